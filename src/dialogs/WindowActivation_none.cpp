// Activation tokens exist only in Wayland sessions; this build has no Wayland
// client (macOS, or a system without the Wayland development files), so a
// lent token can never be handed on.
#include "dialogs/WindowActivation.h"

bool activateWithToken(QWindow&, const QString&) {
  return false;
}
