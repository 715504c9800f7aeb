#include "flow/BusyAlert.h"

#include "flow/FrontEnd.h"

void showBusyAlert(FrontEnd& ui) {
  ui.showAlert(
      AlertKind::notice, QStringLiteral("Velmora Helper is busy"),
      QStringLiteral("Another skin is being applied. Try again once Orvane has reopened."));
}
