// The package flow: a .velmora file from the open event to the final alert.
#include <QFileInfo>

#include "flow/AppDelegate.h"
#include "package/PackageReader.h"

void AppDelegate::handlePackage(const QString& path) {
  // Inspection and extraction run in the confined reader, waited for on the
  // main thread, before the user is asked; the extracted image then goes to the engine as it is. A
  // cancelled package is never applied: its extraction goes again.
  runFlow(
      QStringLiteral("Invalid Orvane skin"),
      [this, &path] {
        OpenedPackage opened = readPackage(path);
        // The reader stays to decode the thumbnail while the question is open.
        thumbnail_ = std::move(opened.thumbnail);
        return opened.request;
      },
      [&path](const SkinRequest&) { return QFileInfo(path).fileName(); }, discardPackage);
}
