#include "request/Validators.h"

#include "base/HelperError.h"
#include "base/HexDigits.h"
#include "request/CodePoints.h"
#include "request/Graphemes.h"

namespace {

bool isOtherCategory(QChar::Category category) {
  switch (category) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
      return true;
    default:
      return false;
  }
}

// Drops every code point of general category C. A lone surrogate is a code
// point of category Cs and goes too, so the result is always valid UTF-16.
QString withoutOtherCategory(const QString& text) {
  QString kept(text.size(), Qt::Uninitialized);
  QChar* out = kept.data();
  forEachCodePoint(text, [&](char32_t codePoint, qsizetype index, qsizetype length) {
    if (isOtherCategory(QChar::category(codePoint))) return;
    for (qsizetype i = 0; i < length; ++i) *out++ = text.at(index + i);
  });
  kept.truncate(out - kept.constData());
  return kept;
}

// White space and line breaks: categories Zs, Zl, Zp, U+000A to U+000D and
// U+0085. All of them lie in the Basic Multilingual Plane.
bool isWhitespaceOrNewline(QChar unit) {
  const char16_t u = unit.unicode();
  if ((u >= 0x0A && u <= 0x0D) || u == 0x85) return true;
  switch (unit.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
      return true;
    default:
      return false;
  }
}

QString trimmed(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && isWhitespaceOrNewline(text.at(begin))) ++begin;
  while (end > begin && isWhitespaceOrNewline(text.at(end - 1))) --end;
  return text.mid(begin, end - begin);
}

}  // namespace

QString validatedName(const std::optional<QString>& value) {
  const QString name = trimmed(withoutOtherCategory(value.value_or(kDefaultSkinName)));
  if (name.isEmpty()) return kDefaultSkinName;
  const BoundedClusters bounded =
      boundedGraphemeClusters(name, kMaxNameClusters, kMaxClusterCodePoints);
  // A shortened cluster may end in white space; the cut after 80 clusters
  // never trims.
  return bounded.cut ? bounded.text : trimmed(bounded.text);
}

QString validatedColor(const std::optional<QString>& value, const QString& fallback) {
  // The whole string must be the colour: a trailing line break is refused too,
  // because the engine takes exactly seven characters.
  const QString lowered = value.value_or(fallback).toLower();
  bool valid = lowered.size() == 7 && lowered.at(0) == u'#';
  // Lower-cased already, so the digits are 0-9 and a-f.
  for (qsizetype i = 1; valid && i < lowered.size(); ++i) valid = isHexDigit(lowered.at(i));
  if (!valid)
    throw HelperError::invalidRequest(QStringLiteral("The skin contains an invalid color value."));
  return lowered;
}
