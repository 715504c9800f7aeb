#pragma once
#include <QString>

class QWindow;

/// Asks the compositor to activate `window` (bring it to the front with the
/// keyboard focus) on behalf of the launch that was given `token`, an XDG
/// activation token. Only a Wayland session has such tokens: there the token
/// goes to the compositor through the xdg-activation protocol on a connection
/// queue of its own, so Qt's event handling is not disturbed. Returns whether
/// the request was sent; false when Qt does not run on Wayland, the
/// compositor does not offer the protocol, the window has no surface yet, or
/// the helper was built without Wayland support.
bool activateWithToken(QWindow& window, const QString& token);
