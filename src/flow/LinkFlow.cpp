// The link flow: what sets a velmora link apart on its way from the open
// event to the final alert.
#include "flow/FlowInput.h"
#include "link/SkinLink.h"

FlowInput linkInput(const QString& link) {
  // The host named is the one the image policy checked, as it is connected to.
  return {QStringLiteral("Invalid skin link"),
          [link] { return requestFromLink(link); },
          [](const SkinRequest& read) { return read.image.host(QUrl::FullyEncoded).toLower(); },
          {}};
}
