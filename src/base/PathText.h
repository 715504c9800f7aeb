#pragma once
#include <QString>

/// The last component of a slash-separated path as Foundation computes it:
/// trailing slashes are ignored, "/" stays "/", and a path without a slash is
/// its own last component.
QString lastPathComponent(const QString& path);

/// The text after the last "." of the path's last component; empty when that
/// component has no ".".
QString pathExtension(const QString& path);
