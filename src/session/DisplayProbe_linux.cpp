#include "session/DisplayProbe.h"

#include <QDir>
#include <QLibraryInfo>
#include <QList>
#include <QtGlobal>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstring>

#ifdef VELMORA_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

bool isX11(const QByteArray& name) {
  return name == "xcb";
}
bool isWayland(const QByteArray& name) {
  return name.startsWith("wayland");
}

/// Whether a Wayland compositor listens on the socket named by
/// `waylandDisplay`: an absolute path, or a name inside `runtimeDir`.
bool waylandSocketAccepts(const QByteArray& waylandDisplay, const QByteArray& runtimeDir) {
  if (waylandDisplay.isEmpty()) return false;
  QByteArray path = waylandDisplay;
  if (!path.startsWith('/')) {
    if (runtimeDir.isEmpty()) return false;
    path = runtimeDir + '/' + waylandDisplay;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (static_cast<size_t>(path.size()) >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));

  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  const bool accepted =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return accepted;
}

/// Whether Qt could open the platform of `entry` now. Platforms other than
/// X11 and Wayland (offscreen, minimal, vnc, eglfs...) are the user's explicit
/// choice and are trusted.
bool platformUsable(const QByteArray& entry) {
  const QByteArray name = platformName(entry);
  if (isX11(name)) return platformPluginInstalled("xcb") && x11DisplayOpens();
  if (isWayland(name)) {
    return platformPluginInstalled("wayland") &&
           waylandSocketAccepts(qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_RUNTIME_DIR"));
  }
  return true;
}

/// The platforms to try, in order: the user's list when QT_QPA_PLATFORM is
/// set (Qt takes a ';'-separated list), otherwise X11 then Wayland as far as
/// their variables are set. X11 comes first because a Wayland session
/// usually runs Xwayland too and Qt's Wayland plugin is often not installed.
QList<QByteArray> candidatePlatforms() {
  QList<QByteArray> candidates;
  const QByteArray requested = qgetenv("QT_QPA_PLATFORM");
  if (!requested.trimmed().isEmpty()) {
    for (const QByteArray& entry : requested.split(';')) {
      if (!platformName(entry).isEmpty()) candidates.append(entry.trimmed());
    }
    return candidates;
  }
  if (!qgetenv("DISPLAY").isEmpty()) candidates.append("xcb");
  if (!qgetenv("WAYLAND_DISPLAY").isEmpty()) candidates.append("wayland");
  return candidates;
}

}  // namespace

DisplayChoice chooseDisplay(bool forceConsole) {
  if (forceConsole) return {};
  for (const QByteArray& entry : candidatePlatforms()) {
    if (platformUsable(entry)) return {FrontEndKind::dialogs, entry};
  }
  return {};
}

bool x11DisplayOpens() {
#ifdef VELMORA_HAVE_XCB
  if (qgetenv("DISPLAY").isEmpty()) return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool opened = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return opened;
#else
  return false;
#endif
}

bool platformPluginInstalled(const QByteArray& stem) {
  QStringList directories;
  const QString extra = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
  if (!extra.isEmpty()) directories.append(extra);
  directories.append(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
  const QStringList pattern{QStringLiteral("libq") + QString::fromLatin1(stem) + QLatin1Char('*')};
  for (const QString& directory : directories) {
    if (!QDir(directory).entryList(pattern, QDir::Files).isEmpty()) return true;
  }
  return false;
}
