#pragma once
#include <QByteArray>
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

/// The lower-cased text after the last dot of the address's last path
/// component; empty when it has no dot. Query and fragment take no part.
QString imagePathExtension(const QUrl& address);

/// Accepts or refuses a response for the image at `requested`: status, final
/// address (through `validateAddress`, whose error passes unchanged),
/// Content-Type, announced size, a content coding the helper can decode
/// (none, gzip or deflate), then the requested address's extension, in that
/// order. Returns the extension for the stored file; throws the first
/// failure.
QString judgeImageResponse(const ImageResponseHead& head, const QUrl& requested,
                           const std::function<void(const QUrl&)>& validateAddress);

/// "The skin image could not be downloaded.": a refused or absent response.
HelperError imageNotDownloaded();

/// "The skin image is empty or too large.": a body of 0 bytes or above the limit.
HelperError imageEmptyOrTooLarge();

/// The words for a failed transfer, from the network layer's `errorString`:
/// trimmed, without a colon left with nothing after it, and the refusal
/// "The skin image could not be downloaded." when no words are left.
QString transferFailureText(const QString& errorString);
