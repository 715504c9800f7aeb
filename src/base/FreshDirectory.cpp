#include "base/FreshDirectory.h"

#include <ftw.h>
#include <sys/stat.h>

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

QString createFreshDirectory(const QString& root) {
  const QString parent = root.isEmpty() ? temporaryRoot() : root;
  QDir().mkpath(parent);  // a failure shows in mkdir's error below
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
