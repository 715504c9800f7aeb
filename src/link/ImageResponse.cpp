#include "link/ImageResponse.h"

#include "base/Limits.h"
#include "link/ContentDecoding.h"
#include "link/ContentLength.h"

HelperError imageNotDownloaded() {
  return HelperError::invalidRequest(QStringLiteral("The skin image could not be downloaded."));
}

HelperError imageEmptyOrTooLarge() {
  return HelperError::invalidRequest(QStringLiteral("The skin image is empty or too large."));
}

QString imagePathExtension(const QUrl& address) {
  const QString path = address.path(QUrl::FullyDecoded);
  const QString name = path.mid(path.lastIndexOf(u'/') + 1);
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

QString judgeImageResponse(const ImageResponseHead& head, const QUrl& requested,
                           const std::function<void(const QUrl&)>& validateAddress) {
  if (head.status < 200 || head.status > 299) throw imageNotDownloaded();

  if (!head.finalAddress.isEmpty()) validateAddress(head.finalAddress);

  if (head.contentType && !head.contentType->toLower().startsWith("image/")) {
    throw HelperError::invalidRequest(QStringLiteral("The downloaded skin asset is not an image."));
  }

  if (head.contentLength) {
    const std::optional<qint64> announced = readContentLength(*head.contentLength);
    if (announced && *announced > kMaxImageBytes) {
      throw HelperError::invalidRequest(QStringLiteral("The skin image is larger than 16 MiB."));
    }
  }

  if (readContentCoding(head.contentEncoding) == ContentCoding::unsupported)
    throw imageNotDownloaded();

  const QString extension = imagePathExtension(requested);
  if (kLinkImageExtensions.contains(extension)) return extension;
  throw HelperError::invalidRequest(QStringLiteral("The skin image format is unsupported."));
}

QString transferFailureText(const QString& errorString) {
  QString text = errorString.trimmed();
  while (text.endsWith(u':')) text = text.chopped(1).trimmed();
  return text.isEmpty() ? imageNotDownloaded().localizedDescription() : text;
}
