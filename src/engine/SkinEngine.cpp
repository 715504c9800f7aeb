#include "engine/SkinEngine.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "base/HelperError.h"
#include "engine/ProcessRunner.h"

QString engineScriptPath() {
  return QDir(QDir::homePath())
      .filePath(QStringLiteral(".orvane/orvane-theme-forge/scripts/customize-theme-macos.sh"));
}

QStringList engineArguments(const QString& name, const QString& imagePath, const QString& accent,
                            const QString& secondary, const QString& highlight) {
  return {QStringLiteral("--image"),     imagePath, QStringLiteral("--name"),      name,
          QStringLiteral("--accent"),    accent,    QStringLiteral("--secondary"), secondary,
          QStringLiteral("--highlight"), highlight};
}

void applySkin(const QString& name, const QUrl& image, const QString& accent,
               const QString& secondary, const QString& highlight) {
  const QString script = engineScriptPath();
  // A directory, or a file without execute permission for this user, is as
  // good as missing: the engine would not start.
  const bool executable =
      QFileInfo(script).isFile() && ::access(QFile::encodeName(script).constData(), X_OK) == 0;
  if (!executable) throw HelperError::engineMissing();
  runProcess(script, engineArguments(name, image.toLocalFile(), accent, secondary, highlight),
             false);
}
