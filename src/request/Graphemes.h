#pragma once
#include <QString>

/// The number of extended grapheme clusters (user-perceived characters) in `text`.
int graphemeClusterCount(const QString& text);

/// Text cut to a bounded size by boundedGraphemeClusters().
struct BoundedClusters {
  QString text;
  /// True when clusters beyond the first `maxClusters` were left out.
  bool cut = false;
};

/// The first `maxClusters` extended grapheme clusters of `text`, each keeping
/// at most `maxCodePoints` code points: the rest of a longer cluster is
/// dropped. When the cluster after a shortened one would join what is left of
/// it, the text ends at the shortened cluster, so that the result, segmented
/// on its own, has no cluster longer than that either. A cluster is never
/// split into two. Takes time linear in the length of `text`.
BoundedClusters boundedGraphemeClusters(const QString& text, int maxClusters, int maxCodePoints);
