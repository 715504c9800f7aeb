#pragma once
#include <sys/types.h>
#include <QString>

/// Whether `path` itself (never what a symbolic link there points to) is a
/// directory that `uid` owns and nobody else may enter.
bool isPrivateDirectory(const QString& path, uid_t uid);

/// Where the instances of this user keep their lock and socket: the runtime
/// directory `runtimeVariable` (XDG_RUNTIME_DIR) when it is a private
/// directory of this user's; else `<sharedTemporary>/velmora-helper-<uid>`;
/// else `<home>/.cache/velmora-helper` (none when `home` is empty). Each of
/// the last two is made, open to the user only, when missing, and taken
/// only when it then is a private directory of theirs, so that another user
/// who made it first, or put a link there, is never followed. Empty, with
/// `problem` saying why, when none will do.
QString instanceDirectory(const QString& runtimeVariable, const QString& sharedTemporary,
                          const QString& home, QString& problem);
