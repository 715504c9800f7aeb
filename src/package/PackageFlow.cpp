// The package flow: a .velmora file from the open event to the final alert.
#include "app/AppDelegate.h"
#include "app/HelperError.h"
#include "package/PackageReader.h"

void AppDelegate::handlePackage(const QString& path) {
  if (operationInFlight_) return;
  SkinRequest request;
  try {
    request = readPackage(path);
  } catch (const Failure& error) {
    finish(QStringLiteral("Invalid Orvane skin"), error.localizedDescription(), kExitFailed);
    return;
  }
  if (mode_ == Mode::apply && !confirmApply(request.name)) {
    terminate(kExitCancelled);
    return;
  }
  // The image is already extracted: it goes to the engine as it is.
  startApplying(request, [](const QUrl& extracted) { return extracted; });
}
