#include "request/Graphemes.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>

// ICU's character break iterator follows the Unicode segmentation rules
// exactly. Qt 6.4's QTextBoundaryFinder does not once the text holds a script
// it tailors (Thai, Khmer, Tibetan, Devanagari...): emoji and flags that follow
// such text are split into halves or single regional indicators, so how a name
// was cut would depend on what came after the cut.

namespace {

// Calls `boundary(offset)` for every cluster end in `text`, in order, until it returns false.
template <typename Boundary>
void forEachClusterEnd(const QString& text, Boundary boundary) {
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<icu::BreakIterator> clusters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !clusters) {
    // Without ICU's data every code unit would be a cluster: never split a
    // surrogate pair even then.
    for (qsizetype at = 1; at <= text.size(); ++at) {
      if (at < text.size() && text.at(at - 1).isHighSurrogate() && text.at(at).isLowSurrogate())
        continue;
      if (!boundary(at)) return;
    }
    return;
  }
  // A read-only alias: the text is not copied.
  const icu::UnicodeString alias(false, reinterpret_cast<const UChar*>(text.utf16()),
                                 static_cast<int32_t>(text.size()));
  clusters->setText(alias);
  for (int32_t at = clusters->next(); at != icu::BreakIterator::DONE; at = clusters->next()) {
    if (!boundary(at)) return;
  }
}

}  // namespace

int graphemeClusterCount(const QString& text) {
  int count = 0;
  forEachClusterEnd(text, [&](qsizetype) {
    ++count;
    return true;
  });
  return count;
}

QString firstGraphemeClusters(const QString& text, int count) {
  QString first = text;
  int seen = 0;
  forEachClusterEnd(text, [&](qsizetype end) {
    if (++seen < count) return true;
    first = text.left(end);
    return false;
  });
  return first;
}
