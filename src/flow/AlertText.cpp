#include "flow/AlertText.h"

#include "request/CodePoints.h"

namespace {

// Categories Cc, Cf, Cs, Cn, Zl and Zp. The line and paragraph separators,
// CR, VT, FF and NEL end a line in one text engine or another (Qt's labels
// and text documents, terminals); Qt's text documents also split a text at
// U+FDD0 and U+FDD1, unassigned code points they use to mark frames; and
// terminals act on the other controls.
bool needsEscape(char32_t codePoint) {
  switch (QChar::category(codePoint)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
      return true;
    default:
      return false;
  }
}

}  // namespace

QString displaySafe(const QString& text, bool keepLineFeeds) {
  QString safe;
  safe.reserve(text.size());
  forEachCodePoint(text, [&](char32_t codePoint, qsizetype index, qsizetype length) {
    const auto value = static_cast<uint>(codePoint);
    if (codePoint == u'\n' && keepLineFeeds) {
      safe.append(u'\n');
    } else if (!needsEscape(codePoint)) {
      safe.append(text.constData() + index, length);
    } else if (codePoint < 0x80) {
      safe.append(QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0')));
    } else if (codePoint <= 0xFFFF) {
      safe.append(QStringLiteral("\\u%1").arg(value, 4, 16, QLatin1Char('0')));
    } else {
      safe.append(QStringLiteral("\\U%1").arg(value, 8, 16, QLatin1Char('0')));
    }
  });
  return safe;
}
