#include "package/ZipDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cerrno>

#include "base/Limits.h"

namespace {

constexpr qint64 kEndRecordBytes = 22;
constexpr qint64 kMaxCommentBytes = 65535;
constexpr qint64 kCentralHeaderBytes = 46;
constexpr qint64 kLocalHeaderBytes = 30;
constexpr qint64 kZip64LocatorBytes = 20;
constexpr qint64 kZip64EndRecordBytes = 56;

const QByteArray kEndSignature("PK\x05\x06", 4);
const QByteArray kZip64LocatorSignature("PK\x06\x07", 4);
const QByteArray kZip64EndSignature("PK\x06\x06", 4);
const QByteArray kCentralSignature("PK\x01\x02", 4);
const QByteArray kLocalSignature("PK\x03\x04", 4);

quint64 little(const QByteArray& bytes, qsizetype at, int width) {
  quint64 value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
  }
  return value;
}

// The `size` bytes at `offset`, or an empty array when the file has fewer.
QByteArray readAt(int fd, quint64 offset, qint64 size) {
  QByteArray bytes(size, Qt::Uninitialized);
  qint64 got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, bytes.data() + got, static_cast<size_t>(size - got),
                              static_cast<off_t>(offset + static_cast<quint64>(got)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return QByteArray();
    got += n;
  }
  return bytes;
}

bool holdsNul(const QByteArray& bytes, qsizetype at, qsizetype length) {
  return std::find(bytes.cbegin() + at, bytes.cbegin() + at + length, '\0') !=
         bytes.cbegin() + at + length;
}

// Whether the name in the local header at `offset` holds a NUL.
bool localNameHoldsNul(int fd, quint64 offset) {
  const QByteArray header = readAt(fd, offset, kLocalHeaderBytes);
  if (header.isEmpty() || !header.startsWith(kLocalSignature)) return false;
  const auto length = static_cast<qint64>(little(header, 26, 2));
  const QByteArray name = readAt(fd, offset + kLocalHeaderBytes, length);
  return holdsNul(name, 0, name.size());
}

// Whether a name in the directory of `count` entries at `offset`, or in a
// local header it points at (its offsets moved by `shift` when the
// directory is not where it says), holds a NUL.
bool directoryHoldsNul(int fd, quint64 offset, quint64 count, qint64 shift) {
  if (count > static_cast<quint64>(kMaxPackageEntries)) return false;
  for (quint64 i = 0; i < count; ++i) {
    const QByteArray header = readAt(fd, offset, kCentralHeaderBytes);
    if (header.isEmpty() || !header.startsWith(kCentralSignature)) return false;
    const auto nameLength = static_cast<qint64>(little(header, 28, 2));
    const QByteArray name = readAt(fd, offset + kCentralHeaderBytes, nameLength);
    if (holdsNul(name, 0, name.size())) return true;
    if (localNameHoldsNul(fd, little(header, 42, 4) + static_cast<quint64>(shift))) return true;
    offset += static_cast<quint64>(kCentralHeaderBytes + nameLength + little(header, 30, 2) +
                                   little(header, 32, 2));
  }
  return false;
}

// The directory an end record at `position` in the file describes.
struct Directory {
  quint64 offset = 0;
  quint64 size = 0;
  quint64 count = 0;
  quint64 end = 0;  // where the directory's own end (or Zip64 end) record lies
  bool consistent = false;
};

Directory describe(int fd, const QByteArray& record, quint64 position) {
  Directory d{little(record, 16, 4), little(record, 12, 4), little(record, 10, 2), position, false};
  d.consistent = little(record, 4, 2) == 0 && little(record, 6, 2) == 0 &&
                 little(record, 8, 2) == little(record, 10, 2) && d.offset + d.size <= position;
  if (position < static_cast<quint64>(kZip64LocatorBytes)) return d;
  const QByteArray locator = readAt(fd, position - kZip64LocatorBytes, kZip64LocatorBytes);
  if (locator.isEmpty() || !locator.startsWith(kZip64LocatorSignature)) return d;
  const quint64 zip64 = little(locator, 8, 8);
  const QByteArray end = readAt(fd, zip64, kZip64EndRecordBytes);
  if (end.isEmpty() || !end.startsWith(kZip64EndSignature)) return d;
  d.count = little(end, 32, 8);
  d.size = little(end, 40, 8);
  d.offset = little(end, 48, 8);
  d.end = zip64;
  d.consistent = d.offset <= zip64 && d.size <= zip64 - d.offset;
  return d;
}

bool namesHoldNul(int fd, const Directory& d) {
  if (directoryHoldsNul(fd, d.offset, d.count, 0)) return true;
  // A directory found right before its end record rather than at its stated
  // offset (data prepended to the archive) is read there, its local headers
  // moved by as much.
  if (d.size > d.end) return false;
  const quint64 actual = d.end - d.size;
  return actual != d.offset &&
         directoryHoldsNul(fd, actual, d.count, static_cast<qint64>(actual - d.offset));
}

}  // namespace

bool zipNamesHoldNul(int archiveFd) {
  struct stat info {};
  if (::fstat(archiveFd, &info) != 0 || info.st_size < kEndRecordBytes) return false;
  const auto fileSize = static_cast<quint64>(info.st_size);
  const qint64 tailSize = std::min<qint64>(info.st_size, kEndRecordBytes + kMaxCommentBytes);
  const quint64 tailStart = fileSize - static_cast<quint64>(tailSize);
  const QByteArray tail = readAt(archiveFd, tailStart, tailSize);
  if (tail.isEmpty()) return false;
  bool lastSeen = false;
  for (qsizetype at = tail.size() - kEndRecordBytes; at >= 0; --at) {
    if (tail.at(at) != 'P' || !QByteArrayView(tail).sliced(at).startsWith(kEndSignature)) continue;
    const Directory d = describe(archiveFd, tail.mid(at, kEndRecordBytes), tailStart + at);
    if (!lastSeen || d.consistent) {
      if (namesHoldNul(archiveFd, d)) return true;
    }
    // Past the last record and the last consistent one, no reader looks.
    if (d.consistent) return false;
    lastSeen = true;
  }
  return false;
}
