#include "base/PathBytes.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when there is none.
qsizetype validSequence(const QByteArray& bytes, qsizetype at) {
  const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  qsizetype length = 0;
  unsigned min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  unsigned codePoint = lead & (0x7F >> length);
  for (qsizetype i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (codePoint < min || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
    return 0;
  }
  return length;
}

}  // namespace

QString pathFromBytes(const QByteArray& bytes) {
  QString path;
  path.reserve(bytes.size());
  qsizetype at = 0;
  while (at < bytes.size()) {
    const qsizetype length = validSequence(bytes, at);
    if (length == 0) {
      path.append(QChar(ushort(0xDC00 + static_cast<unsigned char>(bytes[at]))));
      ++at;
      continue;
    }
    path.append(QString::fromUtf8(bytes.constData() + at, length));
    at += length;
  }
  return path;
}

QByteArray pathBytes(const QString& path) {
  QByteArray bytes;
  bytes.reserve(path.size());
  qsizetype start = 0;
  for (qsizetype i = 0; i < path.size(); ++i) {
    const char16_t unit = path[i].unicode();
    const bool lowSurrogate = unit >= 0xDC80 && unit <= 0xDCFF;
    const bool paired = lowSurrogate && i > 0 && path[i - 1].isHighSurrogate();
    if (!lowSurrogate || paired) continue;
    bytes.append(QStringView(path).mid(start, i - start).toUtf8());
    bytes.append(static_cast<char>(unit - 0xDC00));
    start = i + 1;
  }
  bytes.append(QStringView(path).mid(start).toUtf8());
  return bytes;
}

QString pathOfFileUrl(const QString& url) {
  // Read from the text itself: QUrl turns an escape that is not UTF-8 into
  // U+FFFD, and the byte is lost.
  if (!url.startsWith(u"file:", Qt::CaseInsensitive)) return QString();
  QStringView rest = QStringView(url).mid(5);
  if (rest.startsWith(u"//")) {
    rest = rest.mid(2);
    const qsizetype slash = rest.indexOf(u'/');
    const QStringView host = slash < 0 ? rest : rest.left(slash);
    // A file on another machine (file://server/share) stays as Qt reads it.
    if (!host.isEmpty() && host.compare(u"localhost", Qt::CaseInsensitive) != 0) {
      return QUrl(url).toLocalFile();
    }
    if (slash < 0) return QString();
    rest = rest.mid(slash);
  }
  if (!rest.startsWith(u'/')) return QString();
  const qsizetype end = rest.indexOf(QRegularExpression(QStringLiteral("[?#]")));
  if (end >= 0) rest = rest.left(end);
  return pathFromBytes(QByteArray::fromPercentEncoding(rest.toUtf8()));
}

QString fileUrlOfPath(const QString& path) {
  const QByteArray bytes = pathBytes(path);
  if (bytes == path.toUtf8()) return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
  return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/!$&'()*+,;=:@"));
}
