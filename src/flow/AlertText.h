#pragma once
#include <QString>

/// Makes a text safe to show, in a dialog or on a terminal: every character
/// that would start a line of its own, steer the terminal, reorder or hide
/// text, or that is no character at all (controls, format characters such as
/// bidirectional overrides, line and paragraph separators, lone surrogates,
/// unassigned code points) is shown as an escape such as \x1b or \u2028
/// instead. Line feeds stay when `keepLineFeeds` is true: only the helper's
/// own texts and the engine's output may break a line.
QString displaySafe(const QString& text, bool keepLineFeeds);
