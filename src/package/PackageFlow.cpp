// The package flow: a .velmora file from the open event to the final alert.
#include <QFileInfo>

#include "app/AppDelegate.h"
#include "package/PackageReader.h"

void AppDelegate::handlePackage(const QString& path) {
  if (operationInFlight_) return;
  // Inspection and extraction run here, on the main thread, before the user is asked.
  // A cancelled package is never applied: its extraction goes again.
  const std::optional<SkinRequest> request = readAndConfirm(
      QStringLiteral("Invalid Orvane skin"), [&path] { return readPackage(path); },
      [&path](const SkinRequest&) { return QFileInfo(path).fileName(); }, discardPackage);
  if (!request) return;
  // The image is already extracted: it goes to the engine as it is.
  startApplying(*request, [](const QUrl& extracted) { return extracted; });
}
