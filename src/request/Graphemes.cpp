#include "request/Graphemes.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

#include <algorithm>
#include <memory>
#include <utility>

// ICU's character break iterator follows the Unicode segmentation rules
// exactly. Qt 6.4's QTextBoundaryFinder does not once the text holds a script
// it tailors (Thai, Khmer, Tibetan, Devanagari...): emoji and flags that follow
// such text are split into halves or single regional indicators, so how a name
// was cut would depend on what came after the cut.

namespace {

std::unique_ptr<icu::BreakIterator> clusterIterator() {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> clusters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return nullptr;
  return clusters;
}

// Points `clusters` at `text`, which it then reads in place: `text` must stay
// unchanged while it is used. (Set as a UnicodeString, ICU would copy it.)
void setText(icu::BreakIterator& clusters, const QString& text) {
  UErrorCode status = U_ZERO_ERROR;
  UText alias = UTEXT_INITIALIZER;
  utext_openUChars(&alias, reinterpret_cast<const UChar*>(text.constData()),
                   static_cast<int64_t>(text.size()), &status);
  clusters.setText(&alias, status);
  utext_close(&alias);
}

bool isSurrogatePairAt(const QString& text, qsizetype at) {
  return at > 0 && at < text.size() && text.at(at - 1).isHighSurrogate() &&
         text.at(at).isLowSurrogate();
}

// Calls `boundary(offset)` for every cluster end in `text`, in order, until it returns false.
template <typename Boundary>
void forEachClusterEnd(const QString& text, Boundary boundary) {
  const std::unique_ptr<icu::BreakIterator> clusters = clusterIterator();
  if (!clusters) {
    // Without ICU's data every code point would be a cluster.
    for (qsizetype at = 1; at <= text.size(); ++at) {
      if (!isSurrogatePairAt(text, at) && !boundary(at)) return;
    }
    return;
  }
  setText(*clusters, text);
  for (int32_t at = clusters->next(); at != icu::BreakIterator::DONE; at = clusters->next()) {
    if (!boundary(at)) return;
  }
}

// The offset in `text` after at most `count` code points from `begin`, and not past `end`.
qsizetype afterCodePoints(const QString& text, qsizetype begin, qsizetype end, int count) {
  qsizetype at = begin;
  for (int seen = 0; seen < count && at < end; ++seen) {
    ++at;
    if (isSurrogatePairAt(text, at)) ++at;
  }
  return std::min(at, end);
}

// Tells whether a cluster would join the kept text's last cluster when it
// followed it directly: what it followed in the original text may be gone.
class JoinCheck {
 public:
  /// Sets the kept text's last cluster.
  void setKept(const QString& kept) {
    kept_ = kept;
    keptLength_ = kept.size();
  }

  /// Whether the cluster that begins at `next` in `text` joins the kept one.
  /// Cluster rules look back, never ahead, so its first code point decides.
  bool joins(const QString& text, qsizetype next) {
    if (!clusters_) return false;
    kept_.truncate(keptLength_);
    kept_.append(text.constData() + next, isSurrogatePairAt(text, next + 1) ? 2 : 1);
    setText(*clusters_, kept_);
    return !clusters_->isBoundary(static_cast<int32_t>(keptLength_));
  }

 private:
  std::unique_ptr<icu::BreakIterator> clusters_ = clusterIterator();
  QString kept_;  // read by the iterator in place, so it lives as long
  qsizetype keptLength_ = 0;
};

}  // namespace

int graphemeClusterCount(const QString& text) {
  int count = 0;
  forEachClusterEnd(text, [&](qsizetype) {
    ++count;
    return true;
  });
  return count;
}

BoundedClusters boundedGraphemeClusters(const QString& text, int maxClusters, int maxCodePoints) {
  BoundedClusters bounded;
  // Two code units are the most one code point takes.
  bounded.text.reserve(
      std::min<qsizetype>(text.size(), qsizetype{maxClusters} * maxCodePoints * 2));
  JoinCheck check;
  // Set while the last kept cluster is one that lost code points.
  bool shortened = false;
  int kept = 0;
  qsizetype begin = 0;
  forEachClusterEnd(text, [&](qsizetype end) {
    const qsizetype start = std::exchange(begin, end);
    // What a shortened cluster was followed by may run into what is left of
    // it; the text then ends there, which keeps this at one check per cut.
    if (std::exchange(shortened, false) && check.joins(text, start)) return false;
    if (kept == maxClusters) {
      bounded.cut = true;
      return false;
    }
    ++kept;
    const qsizetype keptEnd = afterCodePoints(text, start, end, maxCodePoints);
    bounded.text.append(text.constData() + start, keptEnd - start);
    if (keptEnd < end) {
      shortened = true;
      check.setKept(text.mid(start, keptEnd - start));
    }
    return true;
  });
  return bounded;
}
