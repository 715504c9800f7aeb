#include "base/SelfExecutable.h"

#include <QFileInfo>

QString executablePath() {
  return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}
