#include "base/FreshDirectory.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QUuid>
#include <cerrno>
#include <cstdio>

#include "base/HelperError.h"
#include "base/SystemError.h"

QString temporaryRoot() {
  // Not QDir::tempPath(): it answers an empty path when TMPDIR names a
  // directory that does not exist yet, and that directory is still the one meant.
  const QString variable = qEnvironmentVariable("TMPDIR");
  return variable.isEmpty() ? QStringLiteral("/tmp")
                            : QDir::cleanPath(QDir(variable).absolutePath());
}

namespace {

/// Makes `path` and every missing directory above it, open to the user only.
/// A failure shows in the error of what comes next.
void makePrivatePath(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  for (qsizetype slash = bytes.indexOf('/', 1); slash != -1;
       slash = bytes.indexOf('/', slash + 1)) {
    ::mkdir(bytes.left(slash).constData(), 0700);
  }
  ::mkdir(bytes.constData(), 0700);
}

/// Whether `owner` is this user or root: no one else may control a
/// directory the helper's private folders live in.
bool trustedOwner(uid_t owner) {
  return owner == ::geteuid() || owner == 0;
}

[[noreturn]] void refuseRoot(const QString& root, const QString& why) {
  throw PlatformError(QStringLiteral("The temporary folder ") + root +
                      QStringLiteral(" is not safe to use: ") + why);
}

/// Refuses a temporary directory whose owner could swap the helper's folders
/// in it (another user), or where anyone could (written to by others
/// without the sticky bit that keeps them to their own entries).
void checkTemporaryRoot(const QString& root) {
  const QByteArray path = QFile::encodeName(root);
  struct stat link {};
  if (::lstat(path.constData(), &link) != 0) return;  // mkdir below says why
  // A link to the directory is only as safe as whoever may replace it.
  if (S_ISLNK(link.st_mode) && !trustedOwner(link.st_uid)) {
    refuseRoot(root, QStringLiteral("another user owns it."));
  }
  struct stat directory {};
  if (::stat(path.constData(), &directory) != 0 || !S_ISDIR(directory.st_mode)) return;
  if (!trustedOwner(directory.st_uid)) refuseRoot(root, QStringLiteral("another user owns it."));
  // Writable by the directory's group is the user's alone where that group
  // is their own (one group per user, as Debian makes them).
  const bool othersWrite = (directory.st_mode & S_IWOTH) != 0 ||
                           ((directory.st_mode & S_IWGRP) != 0 && directory.st_gid != ::getegid());
  if (othersWrite && (directory.st_mode & S_ISVTX) == 0) {
    refuseRoot(root, QStringLiteral("other users can write to it."));
  }
}

}  // namespace

QString createFreshDirectory(const QString& root) {
  const QString parent = root.isEmpty() ? temporaryRoot() : root;
  makePrivatePath(parent);
  // Before anything is written there.
  checkTemporaryRoot(parent);
  const QString directory =
      parent + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
  // Only the user may enter it, so nobody else can change the files between
  // their checks and the engine run.
  if (::mkdir(QFile::encodeName(directory).constData(), 0700) != 0) {
    const int error = errno;
    throw PlatformError(systemErrorText(directory, error));
  }
  return directory;
}

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;  // go on: what cannot be removed stays, the rest goes
}

}  // namespace

void removeTree(const QString& directory) noexcept {
  if (directory.isEmpty()) return;
  // Depth first, so a directory is emptied before it is removed; FTW_PHYS
  // reports a link as a link instead of walking into its target.
  ::nftw(QFile::encodeName(directory).constData(), removeEntry, 16,
         FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}
