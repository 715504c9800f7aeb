#pragma once
#include <QByteArray>

/// Which front end the process runs with.
enum class FrontEndKind { dialogs, console };

/// Chooses the front end before any QApplication exists: dialogs only when Qt
/// can open a display. A QT_QPA_PLATFORM other than xcb or wayland is trusted;
/// an X server (DISPLAY, tried first) or a Wayland compositor (WAYLAND_DISPLAY)
/// must accept a connection, and QT_QPA_PLATFORM is then set to the platform
/// that did, so Qt opens exactly that one. Console with forceConsole or without
/// a usable display, so Qt never aborts on a display it cannot open.
FrontEndKind chooseFrontEnd(bool forceConsole);

/// Whether the X server named by DISPLAY accepts a connection (always false
/// when built without libxcb).
bool x11DisplayOpens();

/// Whether a Qt platform plugin whose file name starts with "libq" + `stem`
/// exists in QT_QPA_PLATFORM_PLUGIN_PATH or in Qt's own platforms directory.
bool platformPluginInstalled(const QByteArray& stem);
