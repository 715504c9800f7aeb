#include "app/FreshDirectory.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QUuid>
#include <cerrno>

#include "app/HelperError.h"

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
    throw PlatformError(directory + QStringLiteral(": ") + qt_error_string(error));
  }
  return directory;
}
