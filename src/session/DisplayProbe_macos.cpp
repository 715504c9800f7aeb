#include "session/DisplayProbe.h"

DisplayChoice chooseDisplay(bool forceConsole) {
  // Qt's Cocoa platform needs no display variable and is Qt's own default.
  if (forceConsole) return {};
  return {FrontEndKind::dialogs, {}};
}
