// The package flow: a .velmora file from the open event to the final alert.
#include <QFileInfo>

#include "app/AppDelegate.h"
#include "package/PackageReader.h"

void AppDelegate::handlePackage(const QString& path) {
  // Inspection and extraction run here, on the main thread, before the user
  // is asked; the extracted image then goes to the engine as it is. A
  // cancelled package is never applied: its extraction goes again.
  runFlow(
      QStringLiteral("Invalid Orvane skin"), [&path] { return readPackage(path); },
      [&path](const SkinRequest&) { return QFileInfo(path).fileName(); }, discardPackage);
}
