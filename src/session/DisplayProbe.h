#pragma once
#include <QByteArray>

/// Which front end the process runs with.
enum class FrontEndKind { dialogs, console };

/// What the probe chose: the front end, and for dialogs the Qt platform to
/// open, which main hands to Qt as its -platform option.
struct DisplayChoice {
  FrontEndKind frontEnd = FrontEndKind::console;
  /// One QT_QPA_PLATFORM entry ("xcb", "wayland", "offscreen", "xcb:nograb"...);
  /// empty for Qt's own choice (macOS) or the console.
  QByteArray platform;

  bool operator==(const DisplayChoice&) const = default;
};

/// Chooses the front end before any QApplication exists: dialogs only when Qt
/// can open a display. Reads the environment and changes nothing in it. On
/// Linux a QT_QPA_PLATFORM other than xcb or wayland is trusted; an X server
/// (DISPLAY, tried first) or a Wayland compositor (WAYLAND_DISPLAY) must accept
/// a connection, and the entry that did is the choice, so Qt opens exactly
/// that one. Console with forceConsole or without a usable display, so Qt
/// never aborts on a display it cannot open. On macOS, dialogs unless forced.
DisplayChoice chooseDisplay(bool forceConsole);

/// The plugin name of one QT_QPA_PLATFORM entry ("xcb:option=1" names "xcb").
inline QByteArray platformName(const QByteArray& entry) {
  const qsizetype colon = entry.indexOf(':');
  return (colon < 0 ? entry : entry.left(colon)).trimmed();
}

/// Whether the X server named by DISPLAY accepts a connection (always false
/// when built without libxcb). Linux only.
bool x11DisplayOpens();

/// Whether a Qt platform plugin whose file name starts with "libq" + `stem`
/// exists in QT_QPA_PLATFORM_PLUGIN_PATH or in Qt's own platforms directory.
/// Linux only.
bool platformPluginInstalled(const QByteArray& stem);
