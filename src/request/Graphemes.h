#pragma once
#include <QString>

/// The number of extended grapheme clusters (user-perceived characters) in `text`.
int graphemeClusterCount(const QString& text);

/// The first `count` extended grapheme clusters of `text` (all of it when it
/// has fewer). A cluster is never split.
QString firstGraphemeClusters(const QString& text, int count);
