// The package flow: a .velmora file from the open event to the final alert.
#include "app/AppDelegate.h"
#include "package/PackageReader.h"

void AppDelegate::handlePackage(const QString& path) {
  if (operationInFlight_) return;
  // Inspection and extraction run here, on the main thread, before the user is asked.
  const std::optional<SkinRequest> request =
      readAndConfirm(QStringLiteral("Invalid Orvane skin"), [&path] { return readPackage(path); });
  if (!request) return;
  // The image is already extracted: it goes to the engine as it is.
  startApplying(*request, [](const QUrl& extracted) { return extracted; });
}
