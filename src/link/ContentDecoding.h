#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <functional>
#include <memory>
#include <optional>

/// How a response body is encoded (its Content-Encoding).
enum class ContentCoding {
  identity,     ///< no header, an empty one, or "identity"
  gzip,         ///< "gzip" or "x-gzip"
  deflate,      ///< "deflate": zlib-wrapped, or raw as some servers send it
  unsupported,  ///< anything else, several codings included
};

/// Reads a Content-Encoding value (absent when the header is missing);
/// letter case and surrounding blanks do not matter.
ContentCoding readContentCoding(const std::optional<QByteArray>& value);

/// Decodes a gzip or deflate body as it arrives, handing the decoded bytes on
/// in pieces of at most 64 KiB, so that a body that expands without bound can
/// be stopped by the receiver (by throwing) before it is held anywhere.
class BodyDecoder {
 public:
  explicit BodyDecoder(ContentCoding coding);
  ~BodyDecoder();
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  /// Decodes `encoded`, calling `decoded` for each piece. Returns false when
  /// the data is not valid for the coding (or goes on after its end).
  bool feed(QByteArrayView encoded, const std::function<void(QByteArrayView)>& decoded);

  /// True once the encoded stream has reached its end.
  bool complete() const;

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};
