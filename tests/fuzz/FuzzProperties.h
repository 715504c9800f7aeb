#pragma once
// Properties shared by the fuzz targets. A violated property prints what was
// expected and the value, then aborts, so libFuzzer keeps the input.
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/HelperError.h"
#include "request/CodePoints.h"
#include "request/Graphemes.h"
#include "request/Validators.h"

/// Aborts with `what` and `value` unless `holds`.
inline void require(bool holds, const char* what, const QString& value = QString()) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\nvalue: \"%s\"\n", what,
               value.toUtf8().toPercentEncoding(" !#$&'()*+,/:;=?@[]{}<>\"\\^`|~").constData());
  std::abort();
}

/// The text of bytes as UTF-16 code units, two bytes each (little end first),
/// so that lone surrogates and any other unit reach the code under test.
inline QString utf16Text(const uint8_t* data, size_t size) {
  QString text;
  for (size_t i = 0; i + 1 < size; i += 2) text.append(QChar(char16_t(data[i] | data[i + 1] << 8)));
  return text;
}

/// True for the white space and line breaks that names are trimmed of:
/// categories Zs, Zl, Zp, U+000A to U+000D and U+0085.
inline bool isNameWhitespace(char32_t codePoint) {
  if ((codePoint >= 0x0A && codePoint <= 0x0D) || codePoint == 0x85) return true;
  const QChar::Category category = QChar::category(codePoint);
  return category == QChar::Separator_Space || category == QChar::Separator_Line ||
         category == QChar::Separator_Paragraph;
}

/// True for a code point of general category C; a lone surrogate counts (Cs).
inline bool isOtherCategory(char32_t codePoint) {
  switch (QChar::category(codePoint)) {
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

/// The number of extended grapheme clusters in `text`, counted on its own.
inline int graphemeClusters(const QString& text) {
  return graphemeClusterCount(text);
}

/// Where each extended grapheme cluster of `text` ends, found by ICU's own
/// iterator on the text alone.
inline QList<qsizetype> clusterEnds(const QString& text) {
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<icu::BreakIterator> clusters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  require(U_SUCCESS(status), "ICU's character iterator is available");
  const icu::UnicodeString alias(false, reinterpret_cast<const UChar*>(text.utf16()),
                                 static_cast<int32_t>(text.size()));
  clusters->setText(alias);
  QList<qsizetype> ends;
  for (int32_t at = clusters->next(); at != icu::BreakIterator::DONE; at = clusters->next()) {
    ends.append(at);
  }
  return ends;
}

/// The code points in text[begin, end).
inline int codePointsIn(const QString& text, qsizetype begin, qsizetype end) {
  return static_cast<int>(QStringView(text).mid(begin, end - begin).toUcs4().size());
}

/// The given name with every category-C code point dropped and white space
/// trimmed at both ends: what the 80-cluster cut applies to.
inline QString cleanedName(const QString& given) {
  QList<char32_t> kept;
  forEachCodePoint(given, [&](char32_t codePoint, qsizetype, qsizetype) {
    if (!isOtherCategory(codePoint)) kept.append(codePoint);
  });
  qsizetype begin = 0;
  qsizetype end = kept.size();
  while (begin < end && isNameWhitespace(kept.at(begin))) ++begin;
  while (end > begin && isNameWhitespace(kept.at(end - 1))) --end;
  QString text;
  for (qsizetype i = begin; i < end; ++i) {
    const char32_t c = kept.at(i);
    text += c > 0xFFFF ? QString::fromUcs4(&c, 1) : QString(QChar(char16_t(c)));
  }
  return text;
}

/// A cleaned display name, as a request may carry it: 1 to 80 clusters of at
/// most 31 code points each (so a bounded size), no code point of category C,
/// no white space at the start, and white space at the end only when the
/// 80-cluster cut fell after it (the name is not trimmed after the cut), so
/// only in a name of exactly 80 clusters.
inline void requireNameShape(const QString& name) {
  require(!name.isEmpty(), "a name is never empty", name);
  const int clusters = graphemeClusters(name);
  require(clusters >= 1 && clusters <= kMaxNameClusters, "a name has 1 to 80 clusters", name);
  const QList<qsizetype> ends = clusterEnds(name);
  require(ends.size() == clusters, "a name's clusters are ICU's", name);
  for (qsizetype i = 0, begin = 0; i < ends.size(); begin = ends.at(i++)) {
    require(codePointsIn(name, begin, ends.at(i)) <= kMaxClusterCodePoints,
            "a cluster of a name has at most 31 code points", name);
  }
  require(name.size() <= qsizetype{kMaxNameClusters} * kMaxClusterCodePoints * 2,
          "a name is at most 80 clusters of 31 code points long", name);
  bool first = true;
  char32_t last = 0;
  forEachCodePoint(name, [&](char32_t codePoint, qsizetype, qsizetype) {
    require(!isOtherCategory(codePoint), "a name holds no code point of category C", name);
    if (first)
      require(!isNameWhitespace(codePoint), "a name does not start with white space", name);
    first = false;
    last = codePoint;
  });
  if (isNameWhitespace(last)) {
    require(clusters == kMaxNameClusters, "a name ends in white space only after a cut", name);
  }
}

/// requireNameShape, and what the name must be for the value `given`
/// (absent: the default): the whole cleaned text when it has at most 80
/// clusters, else its first 80 clusters, and the default when it is empty.
/// A cluster longer than 31 code points among those keeps its first 31, and
/// what comes before it stays whole. White space at the end is allowed only
/// when the cleaned text was longer.
inline void requireNameFrom(const QString& name, const std::optional<QString>& given) {
  requireNameShape(name);
  const QString cleaned = cleanedName(given.value_or(kDefaultSkinName));
  const QList<qsizetype> ends = clusterEnds(cleaned);
  const bool cut = ends.size() > kMaxNameClusters;
  if (!name.isEmpty() && isNameWhitespace(name.back().unicode())) {
    require(cut, "a name ends in white space only when the cleaned text was cut", name);
  }
  if (cleaned.isEmpty()) {
    require(name == kDefaultSkinName, "a name that cleans to nothing is the default", name);
    return;
  }
  for (qsizetype i = 0, begin = 0; i < std::min<qsizetype>(ends.size(), kMaxNameClusters);
       begin = ends.at(i++)) {
    if (codePointsIn(cleaned, begin, ends.at(i)) <= kMaxClusterCodePoints) continue;
    qsizetype kept = begin;
    while (codePointsIn(cleaned, begin, kept) < kMaxClusterCodePoints) {
      kept += cleaned.at(kept).isHighSurrogate() ? 2 : 1;
    }
    QString expected = cleaned.left(kept);
    while (isNameWhitespace(expected.back().unicode())) expected.chop(1);
    require(name.startsWith(expected),
            "a long cluster keeps its first 31 code points, and what came before it", name);
    return;
  }
  require(cleaned.startsWith(name), "a name is a prefix of the cleaned text", name);
  require(cut ? graphemeClusters(name) == kMaxNameClusters : name == cleaned,
          "a name is the cleaned text or its first 80 clusters", name);
}

/// A colour as a request carries it: "#" and six lower-case hex digits.
inline void requireCleanColor(const QString& color) {
  static const QRegularExpression shape(QStringLiteral("\\A#[0-9a-f]{6}\\z"));
  require(shape.match(color).hasMatch(), "a colour is # and six lower-case hex digits", color);
}

/// True when `text` is "#" and six hex digits of either case, all ASCII.
inline bool isColorText(const QString& text) {
  static const QRegularExpression shape(QStringLiteral("\\A#[0-9A-Fa-f]{6}\\z"));
  return shape.match(text).hasMatch();
}

/// Aborts unless `failure` is a HelperError invalidRequest whose text is one
/// of `messages`.
inline void requireRefusal(const Failure& failure, const QStringList& messages) {
  const auto* refusal = dynamic_cast<const HelperError*>(&failure);
  require(refusal != nullptr && refusal->errorCase() == HelperError::Case::invalidRequest,
          "a refusal is a HelperError invalidRequest", failure.localizedDescription());
  require(messages.contains(failure.localizedDescription()), "a refusal carries a known message",
          failure.localizedDescription());
}
