#pragma once
#include <QByteArray>
#include <QSize>
#include <QString>
#include <chrono>
#include <optional>

#include "base/Limits.h"
#include "request/SkinRequest.h"

// What the confined package reader and the helper say to each other. The
// reader writes its answer, then (when the package's image can have a
// thumbnail) waits for the helper to ask for one at a pixel size, and writes
// the pixels. Every frame is bounded, and the helper trusts none of it: it
// checks an answer's fields again as if they came from the package itself.

/// The reader's descriptors: the package, its answers, the helper's requests.
inline constexpr int kReaderPackageFd = 0;
inline constexpr int kReaderAnswerFd = 3;
inline constexpr int kReaderRequestFd = 4;

/// What the reader made of a package.
struct ReaderAnswer {
  enum class Outcome {
    request,         ///< read: `request` and `imageName` hold the skin
    invalidRequest,  ///< refused; `message` is the refusal
    processFailed,   ///< a tool failed; `message` is its output
    platformError,   ///< the platform failed; `message` is its words
  };
  Outcome outcome = Outcome::platformError;
  QString message;
  SkinRequest request;  ///< its image is not set: the helper knows the directory
  QString imageName;    ///< the image's file name at the top of the directory
  QSize thumbnailSize;  ///< logical size of its thumbnail; empty for none

  bool operator==(const ReaderAnswer&) const = default;
};

/// The answer as one frame: "VMA1", its length (4 bytes), then JSON.
QByteArray encodeAnswer(const ReaderAnswer& answer);

/// The answer held in `body` (the frame after its length); nullopt when it
/// is not one.
std::optional<ReaderAnswer> decodeAnswer(const QByteArray& body);

/// The helper's request for a thumbnail of `pixels` (physical pixels).
QByteArray encodeThumbnailRequest(QSize pixels);

/// The pixels of a thumbnail, as 32-bit ARGB words in the machine's byte
/// order, row after row with no padding; no pixels when there is none.
QByteArray encodeThumbnail(QSize pixels, const QByteArray& argb32);

/// Writes all of `bytes` to `fd`; false on failure.
bool writeAll(int fd, const QByteArray& bytes);

/// Reads exactly `count` bytes from `fd` (a blocking descriptor); nullopt
/// at the end of the stream or on failure.
std::optional<QByteArray> readExactly(int fd, qsizetype count);

/// Reads one answer frame from `fd` within `timeout`; nullopt when none
/// arrives complete and well-formed in time.
std::optional<ReaderAnswer> readAnswer(int fd, std::chrono::milliseconds timeout);

/// Parses a thumbnail request; nullopt when malformed or larger than a
/// thumbnail may be.
std::optional<QSize> decodeThumbnailRequest(const QByteArray& eightBytes);

/// Collects a thumbnail frame as it arrives in pieces.
class ThumbnailFrame {
 public:
  /// Takes the next bytes received; false once the frame is malformed or
  /// larger than `asked` allows.
  bool take(const QByteArray& bytes, QSize asked);
  /// Whether the whole frame has arrived.
  bool complete() const;
  /// The thumbnail's size and pixels, once complete (empty for none).
  QSize size() const { return size_; }
  QByteArray pixels() const { return buffer_.mid(kHeaderBytes); }

 private:
  static constexpr qsizetype kHeaderBytes = 12;
  QByteArray buffer_;
  QSize size_;
  qsizetype expected_ = -1;
};
