#include "engine/SkinEngine.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <vector>

#include "base/HelperError.h"
#include "base/ProcessRunner.h"

namespace {

bool isAbsolutePath(const QString& path) {
  return path.startsWith(u'/');
}

}  // namespace

QString homeDirectory(const QString& homeVariable,
                      const std::function<std::optional<QString>()>& accountHome) {
  // An unset or relative HOME would put the engine under "/" or under
  // whatever the working directory happens to be.
  if (isAbsolutePath(homeVariable)) return homeVariable;
  const std::optional<QString> account = accountHome();
  if (account && isAbsolutePath(*account)) return *account;
  return {};
}

std::optional<QString> accountHomeDirectory() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  std::vector<char> buffer(static_cast<std::size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  // Called on the engine's worker thread: the reentrant form only.
  while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (std::size_t{1} << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (!found || !found->pw_dir) return std::nullopt;
  return QFile::decodeName(found->pw_dir);
}

QString engineScriptPath(const QProcessEnvironment& environment) {
  const QString home =
      homeDirectory(environment.value(QStringLiteral("HOME")), accountHomeDirectory);
  if (home.isEmpty()) return {};
  return QDir(home).filePath(
      QStringLiteral(".orvane/orvane-theme-forge/scripts/customize-theme-macos.sh"));
}

QStringList engineArguments(const QString& name, const QString& imagePath, const QString& accent,
                            const QString& secondary, const QString& highlight) {
  return {QStringLiteral("--image"),     imagePath, QStringLiteral("--name"),      name,
          QStringLiteral("--accent"),    accent,    QStringLiteral("--secondary"), secondary,
          QStringLiteral("--highlight"), highlight};
}

void applySkin(const SkinRequest& request, const QProcessEnvironment& environment) {
  const QString script = engineScriptPath(environment);
  // No home directory, a directory, or a file without execute permission for
  // this user is as good as missing: the engine would not start.
  const bool executable = !script.isEmpty() && QFileInfo(script).isFile() &&
                          ::access(QFile::encodeName(script).constData(), X_OK) == 0;
  if (!executable) throw HelperError::engineMissing();
  runProcess(script,
             engineArguments(request.name, request.image.toLocalFile(), request.accent,
                             request.secondary, request.highlight),
             false, OutputText::strictUtf8, environment);
}
