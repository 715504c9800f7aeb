#pragma once
#include <QString>

/// Calls `visit(codePoint, index, length)` for each code point of `text`, in
/// order; `index` and `length` locate it in UTF-16 units. A lone surrogate is
/// visited as a code point of its own (category Cs).
template <typename Visit>
void forEachCodePoint(const QString& text, Visit visit) {
  for (qsizetype i = 0; i < text.size();) {
    const QChar unit = text.at(i);
    char32_t codePoint = unit.unicode();
    qsizetype length = 1;
    if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      codePoint = QChar::surrogateToUcs4(unit, text.at(i + 1));
      length = 2;
    }
    visit(codePoint, i, length);
    i += length;
  }
}
