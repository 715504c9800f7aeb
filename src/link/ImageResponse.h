#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

#include "base/HelperError.h"

/// The parts of a final HTTP response that decide whether its body is taken.
struct ImageResponseHead {
  /// The HTTP status code; 0 when the response carried none.
  int status = 0;
  /// The address that finally answered; empty when unknown.
  QUrl finalAddress;
  /// The Content-Type header's value, absent when the header is missing.
  std::optional<QByteArray> contentType;
  /// The Content-Length header's value, absent when the header is missing.
  std::optional<QByteArray> contentLength;
  /// The Content-Encoding header's value, absent when the header is missing.
  std::optional<QByteArray> contentEncoding;
};

/// What judgeImageResponse() accepted.
struct AcceptedImage {
  /// The requested address's extension, lower-cased: the stored file's.
  QString extension;
  /// The size announced for a body that is not encoded (Content-Length), for
  /// showing progress; -1 when none was announced or it cannot be read.
  qint64 announcedBytes = -1;
  /// The response named a generic binary type: its body is taken only when
  /// its first bytes are the signature of an image format the helper accepts.
  bool needsSignature = false;
};

/// Whether a body sent with this Content-Encoding value arrives encoded:
/// false for none, an empty value and "identity".
bool isEncodedBody(const std::optional<QByteArray>& contentEncoding);

/// Accepts or refuses a response for the image at `requested`: status, final
/// address (through `validateAddress`, whose error passes unchanged),
/// Content-Type (an image/ type, none, or a generic binary type whose body
/// is then sniffed), announced size (of a body that is not encoded: an
/// encoded one announces its encoded size), then the requested address's
/// extension, in that order. Throws the first failure.
AcceptedImage judgeImageResponse(const ImageResponseHead& head, const QUrl& requested,
                                 const std::function<void(const QUrl&)>& validateAddress);

/// Whether the first bytes of a body judged with needsSignature make it an
/// image the helper takes. `head` holds the body's first kImageSignatureBytes
/// bytes, or all of a shorter body.
bool hasImageSignature(QByteArrayView head);

/// "The skin image could not be downloaded.": a refused or absent response.
HelperError imageNotDownloaded();

/// "The skin image is empty or too large.": a body of 0 bytes or above the limit.
HelperError imageEmptyOrTooLarge();

/// "The downloaded skin asset is not an image.": the response's type or,
/// for a generic binary type, its first bytes say it is something else.
HelperError notAnImage();
