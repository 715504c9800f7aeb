#include "link/LinkQuery.h"

#include <QStringDecoder>

#include "base/HelperError.h"
#include "base/HexDigits.h"

namespace {

[[noreturn]] void refuseLink() {
  refuse("The skin link is invalid.");
}

}  // namespace

QString percentDecodedUtf8(const QString& text, bool* ok) {
  const QByteArray encoded = text.toUtf8();
  QByteArray bytes;
  bytes.reserve(encoded.size());
  *ok = true;
  for (qsizetype i = 0; i < encoded.size(); ++i) {
    const char c = encoded.at(i);
    if (c == '%') {
      const int high = i + 1 < encoded.size()
                           ? hexDigitValue(static_cast<unsigned char>(encoded.at(i + 1)))
                           : -1;
      const int low = i + 2 < encoded.size()
                          ? hexDigitValue(static_cast<unsigned char>(encoded.at(i + 2)))
                          : -1;
      if (high < 0 || low < 0) {
        *ok = false;
        return {};
      }
      bytes.append(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      bytes.append(c);
    }
  }
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = decoder.decode(bytes);
  if (decoder.hasError()) {
    *ok = false;
    return {};
  }
  return decoded;
}

QHash<QString, QString> readLinkQuery(const QString& query) {
  QHash<QString, QString> items;
  if (query.isNull()) return items;
  for (const QString& item : query.split(u'&')) {
    const qsizetype equals = item.indexOf(u'=');
    if (equals < 0) continue;  // an item without "=" carries no value at all
    bool nameOk = false;
    bool valueOk = false;
    const QString name = percentDecodedUtf8(item.left(equals), &nameOk);
    const QString value = percentDecodedUtf8(item.mid(equals + 1), &valueOk);
    if (!nameOk || !valueOk) refuseLink();
    // A repeated name would let two readers of the same link see different
    // values; such a link is refused rather than guessed at.
    if (items.contains(name)) refuseLink();
    items.insert(name, value);
  }
  return items;
}
