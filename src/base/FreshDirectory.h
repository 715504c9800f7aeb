#pragma once
#include <QString>

/// The user's temporary directory: TMPDIR when set (even when it does not
/// exist yet), else /tmp.
QString temporaryRoot();

/// Creates `<root>/<fresh UUID, 36 upper-case characters>` (root defaults to
/// temporaryRoot(), made first when missing, open to the user only), open to
/// the user only, and returns its path. Throws PlatformError in the system's
/// words, or saying why a root that another user owns, or that others may
/// write to without the sticky bit, is not safe to use.
QString createFreshDirectory(const QString& root = {});

/// Removes `directory` and everything below it without following a symbolic
/// link (a link is removed, never what it points to) and without crossing
/// into another file system. Best effort, never throws: used to take back
/// what nothing will read.
void removeTree(const QString& directory) noexcept;
