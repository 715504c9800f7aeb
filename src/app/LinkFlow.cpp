// The link flow: a velmora link from the open event to the final alert.
#include "app/AppDelegate.h"
#include "link/SkinLink.h"

void AppDelegate::handleDeepLink(const QString& link) {
  // The image is downloaded only once the user has confirmed.
  runFlow(QStringLiteral("Invalid skin link"), [&link] { return requestFromLink(link); });
}
