// The link flow: a velmora link from the open event to the final alert.
#include "flow/AppDelegate.h"
#include "link/SkinLink.h"

void AppDelegate::handleDeepLink(const QString& link) {
  // The image is downloaded only once the user has confirmed.
  // The host named is the one the image policy checked, as it is connected to.
  runFlow(
      QStringLiteral("Invalid skin link"), [&link] { return requestFromLink(link); },
      [](const SkinRequest& read) { return read.image.host(QUrl::FullyEncoded).toLower(); });
}
