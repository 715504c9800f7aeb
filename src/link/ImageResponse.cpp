#include "link/ImageResponse.h"

#include "base/ImageSignature.h"
#include "base/Limits.h"
#include "base/PathText.h"
#include "link/ContentLength.h"

namespace {

// The media type of a Content-Type value: before any parameter, trimmed,
// lower-cased.
QByteArray mediaType(const QByteArray& contentType) {
  const qsizetype semicolon = contentType.indexOf(';');
  return (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
}

// Object stores and servers without a type table label any file so.
bool isGenericBinaryType(const QByteArray& contentType) {
  const QByteArray media = mediaType(contentType);
  return media == "application/octet-stream" || media == "binary/octet-stream";
}

}  // namespace

HelperError imageNotDownloaded() {
  return HelperError::invalidRequest(QStringLiteral("The skin image could not be downloaded."));
}

HelperError imageEmptyOrTooLarge() {
  return HelperError::invalidRequest(QStringLiteral("The skin image is empty or too large."));
}

HelperError notAnImage() {
  return HelperError::invalidRequest(QStringLiteral("The downloaded skin asset is not an image."));
}

bool isEncodedBody(const std::optional<QByteArray>& contentEncoding) {
  if (!contentEncoding) return false;
  const QByteArray coding = contentEncoding->trimmed().toLower();
  return !coding.isEmpty() && coding != "identity";
}

AcceptedImage judgeImageResponse(const ImageResponseHead& head, const QUrl& requested,
                                 const std::function<void(const QUrl&)>& validateAddress) {
  if (head.status < 200 || head.status > 299) throw imageNotDownloaded();

  if (!head.finalAddress.isEmpty()) validateAddress(head.finalAddress);

  AcceptedImage accepted;
  if (head.contentType) {
    accepted.needsSignature = isGenericBinaryType(*head.contentType);
    if (!accepted.needsSignature && !head.contentType->toLower().startsWith("image/")) {
      throw notAnImage();
    }
  }

  if (head.contentLength && !isEncodedBody(head.contentEncoding)) {
    const std::optional<qint64> announced = readContentLength(*head.contentLength);
    static_assert(kMaxImageBytes == 16 * 1024 * 1024, "the refusal below names the limit");
    if (announced && *announced > kMaxImageBytes) {
      throw HelperError::invalidRequest(QStringLiteral("The skin image is larger than 16 MiB."));
    }
    if (announced && *announced >= 0) accepted.announcedBytes = *announced;
  }

  // The path alone: query and fragment take no part.
  accepted.extension = pathExtension(requested.path(QUrl::FullyDecoded)).toLower();
  if (kLinkImageExtensions.contains(accepted.extension)) return accepted;
  throw HelperError::invalidRequest(QStringLiteral("The skin image format is unsupported."));
}

bool hasImageSignature(QByteArrayView head) {
  return !imageSignatureFormat(head).isEmpty();
}
