#include "session/InstanceDirectory.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Makes `path` open to the user only when missing, tightens it when it is
/// the user's own but open to others, and answers whether it now is a
/// private directory of theirs.
bool madePrivate(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  ::mkdir(bytes.constData(), 0700);
  struct stat found {};
  if (::lstat(bytes.constData(), &found) != 0 || !S_ISDIR(found.st_mode) ||
      found.st_uid != ::geteuid()) {
    return false;
  }
  // The user's own directory, not a link (lstat): its mode is theirs to set.
  if ((found.st_mode & 077) != 0) ::chmod(bytes.constData(), 0700);
  return isPrivateDirectory(path, ::geteuid());
}

}  // namespace

bool isPrivateDirectory(const QString& path, uid_t uid) {
  struct stat found {};
  if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &found) != 0) return false;
  return S_ISDIR(found.st_mode) && found.st_uid == uid && (found.st_mode & 077) == 0;
}

QString instanceDirectory(const QString& runtimeVariable, const QString& sharedTemporary,
                          const QString& home, QString& problem) {
  const uid_t uid = ::geteuid();
  if (runtimeVariable.startsWith(u'/') && isPrivateDirectory(runtimeVariable, uid)) {
    return runtimeVariable;
  }
  // No runtime directory of the user's own: one of theirs on this machine,
  // else one in their home.
  const QString shared =
      sharedTemporary + QStringLiteral("/velmora-helper-") + QString::number(uid);
  if (madePrivate(shared)) return shared;
  if (!home.isEmpty()) {
    // ~/.cache is made as the XDG base directories want it, when missing.
    ::mkdir(QFile::encodeName(home + QStringLiteral("/.cache")).constData(), 0700);
    const QString cache = home + QStringLiteral("/.cache/velmora-helper");
    if (madePrivate(cache)) return cache;
    problem = QStringLiteral(
                  "neither %1 nor %2 is a private folder of this user's, running "
                  "without the single instance")
                  .arg(shared, cache);
    return {};
  }
  problem = QStringLiteral(
                "%1 is not a private folder of this user's and there is no home "
                "folder, running without the single instance")
                .arg(shared);
  return {};
}
