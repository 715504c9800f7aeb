#include "dialogs/HelperIcon.h"

QIcon helperIcon() {
  // The SVG needs Qt's SVG icon engine (Debian libqt6svg6); the PNG keeps an
  // icon on systems without it.
  QIcon icon(QStringLiteral(":/velmora-helper/velmora-helper.svg"));
  if (icon.availableSizes().isEmpty() && icon.pixmap(64).isNull()) {
    icon = QIcon(QStringLiteral(":/velmora-helper/velmora-helper-64.png"));
  }
  return icon;
}
