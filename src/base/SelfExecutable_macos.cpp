#include "base/SelfExecutable.h"

#include <mach-o/dyld.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

QString executablePath() {
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  QByteArray path(qsizetype(size), '\0');
  if (_NSGetExecutablePath(path.data(), &size) != 0) return QString();
  return QFileInfo(QFile::decodeName(path.constData())).canonicalFilePath();
}
