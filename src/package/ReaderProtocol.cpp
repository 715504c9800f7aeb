#include "package/ReaderProtocol.h"

#include <poll.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>

#include "base/Limits.h"

namespace {

const QByteArray kAnswerMagic = QByteArrayLiteral("VMA1");
const QByteArray kThumbnailMagic = QByteArrayLiteral("VMT1");

QByteArray word(quint32 value) {
  return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

quint32 wordAt(const QByteArray& bytes, qsizetype offset) {
  quint32 value = 0;
  std::memcpy(&value, bytes.constData() + offset, sizeof value);
  return value;
}

const char* outcomeName(ReaderAnswer::Outcome outcome) {
  switch (outcome) {
    case ReaderAnswer::Outcome::request:
      return "request";
    case ReaderAnswer::Outcome::invalidRequest:
      return "invalidRequest";
    case ReaderAnswer::Outcome::processFailed:
      return "processFailed";
    case ReaderAnswer::Outcome::platformError:
      return "platformError";
  }
  return "";
}

// The largest thumbnail anyone may ask for, in physical pixels a side.
constexpr int kMaxThumbnailPixels = kThumbnailSide * kMaxThumbnailScale;

bool isThumbnailSize(QSize size) {
  return size.width() >= 1 && size.height() >= 1 && size.width() <= kMaxThumbnailPixels &&
         size.height() <= kMaxThumbnailPixels;
}

}  // namespace

QByteArray encodeAnswer(const ReaderAnswer& answer) {
  QJsonObject object{{QStringLiteral("outcome"), QString::fromLatin1(outcomeName(answer.outcome))}};
  if (answer.outcome == ReaderAnswer::Outcome::request) {
    object.insert(QStringLiteral("name"), answer.request.name);
    object.insert(QStringLiteral("accent"), answer.request.accent);
    object.insert(QStringLiteral("secondary"), answer.request.secondary);
    object.insert(QStringLiteral("highlight"), answer.request.highlight);
    object.insert(QStringLiteral("image"), answer.imageName);
    object.insert(QStringLiteral("thumbnail"),
                  QJsonArray{answer.thumbnailSize.width(), answer.thumbnailSize.height()});
  } else {
    object.insert(QStringLiteral("message"), answer.message);
  }
  const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
  return kAnswerMagic + word(static_cast<quint32>(json.size())) + json;
}

std::optional<ReaderAnswer> decodeAnswer(const QByteArray& body) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  const QString outcome = object.value(QStringLiteral("outcome")).toString();
  ReaderAnswer answer;
  for (const auto each :
       {ReaderAnswer::Outcome::request, ReaderAnswer::Outcome::invalidRequest,
        ReaderAnswer::Outcome::processFailed, ReaderAnswer::Outcome::platformError}) {
    if (outcome == QLatin1String(outcomeName(each))) answer.outcome = each;
  }
  if (outcome != QLatin1String(outcomeName(answer.outcome))) return std::nullopt;
  if (answer.outcome != ReaderAnswer::Outcome::request) {
    if (!object.value(QStringLiteral("message")).isString()) return std::nullopt;
    answer.message = object.value(QStringLiteral("message")).toString();
    return answer;
  }
  for (const char* key : {"name", "accent", "secondary", "highlight", "image"}) {
    if (!object.value(QLatin1String(key)).isString()) return std::nullopt;
  }
  answer.request.name = object.value(QStringLiteral("name")).toString();
  answer.request.accent = object.value(QStringLiteral("accent")).toString();
  answer.request.secondary = object.value(QStringLiteral("secondary")).toString();
  answer.request.highlight = object.value(QStringLiteral("highlight")).toString();
  answer.imageName = object.value(QStringLiteral("image")).toString();
  const QJsonArray thumbnail = object.value(QStringLiteral("thumbnail")).toArray();
  if (thumbnail.size() == 2) {
    const QSize size(thumbnail.at(0).toInt(), thumbnail.at(1).toInt());
    if (size.width() <= kThumbnailSide && size.height() <= kThumbnailSide && !size.isEmpty()) {
      answer.thumbnailSize = size;
    }
  }
  return answer;
}

QByteArray encodeThumbnailRequest(QSize pixels) {
  return word(static_cast<quint32>(pixels.width())) + word(static_cast<quint32>(pixels.height()));
}

std::optional<QSize> decodeThumbnailRequest(const QByteArray& eightBytes) {
  if (eightBytes.size() != 8) return std::nullopt;
  const quint32 width = wordAt(eightBytes, 0);
  const quint32 height = wordAt(eightBytes, 4);
  if (width > quint32(kMaxThumbnailPixels) || height > quint32(kMaxThumbnailPixels)) {
    return std::nullopt;
  }
  const QSize size(static_cast<int>(width), static_cast<int>(height));
  if (!isThumbnailSize(size)) return std::nullopt;
  return size;
}

QByteArray encodeThumbnail(QSize pixels, const QByteArray& argb32) {
  const bool some =
      isThumbnailSize(pixels) && argb32.size() == qsizetype(pixels.width()) * pixels.height() * 4;
  const QSize size = some ? pixels : QSize(0, 0);
  return kThumbnailMagic + word(static_cast<quint32>(size.width())) +
         word(static_cast<quint32>(size.height())) + (some ? argb32 : QByteArray());
}

bool ThumbnailFrame::take(const QByteArray& bytes, QSize asked) {
  buffer_.append(bytes);
  if (expected_ < 0 && buffer_.size() >= kHeaderBytes) {
    if (!buffer_.startsWith(kThumbnailMagic)) return false;
    const quint32 width = wordAt(buffer_, 4);
    const quint32 height = wordAt(buffer_, 8);
    if (width == 0 && height == 0) {
      size_ = QSize();
      expected_ = kHeaderBytes;
    } else {
      // Never more than was asked for: the reader decides nothing here.
      if (width > quint32(asked.width()) || height > quint32(asked.height()) || width == 0 ||
          height == 0) {
        return false;
      }
      size_ = QSize(static_cast<int>(width), static_cast<int>(height));
      expected_ = kHeaderBytes + qsizetype(width) * height * 4;
    }
  }
  return expected_ < 0 || buffer_.size() <= expected_;
}

bool ThumbnailFrame::complete() const {
  return expected_ >= 0 && buffer_.size() == expected_;
}

bool writeAll(int fd, const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += wrote;
  }
  return true;
}

std::optional<QByteArray> readExactly(int fd, qsizetype count) {
  QByteArray bytes(count, Qt::Uninitialized);
  qsizetype done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, bytes.data() + done, size_t(count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += got;
  }
  return bytes;
}

std::optional<ReaderAnswer> readAnswer(int fd, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  QByteArray frame;
  qsizetype expected = 8;
  char chunk[65536];
  while (frame.size() < expected) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    const ssize_t got = ::read(
        fd, chunk, static_cast<size_t>(std::min<qsizetype>(sizeof chunk, expected - frame.size())));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    frame.append(chunk, got);
    if (expected == 8 && frame.size() == 8) {
      if (!frame.startsWith(kAnswerMagic)) return std::nullopt;
      const quint32 length = wordAt(frame, 4);
      if (length > quint32(kMaxAnswerBytes)) return std::nullopt;
      expected = 8 + qsizetype(length);
    }
  }
  return decodeAnswer(frame.mid(8));
}
