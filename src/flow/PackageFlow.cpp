// The package flow: what sets a .velmora file apart on its way from the open
// event to the final alert.
#include <QFileInfo>

#include "flow/FlowInput.h"
#include "package/PackageReader.h"

FlowInput packageInput(const QString& path, std::unique_ptr<PendingPackage>& expected,
                       std::unique_ptr<PackageThumbnail>& thumbnail) {
  // Inspection and extraction run in the confined reader, waited for on the
  // main thread, before the user is asked; the extracted image then goes to
  // the engine as it is. A declined package is never applied: its extraction
  // goes again.
  return {QStringLiteral("Invalid Orvane skin"),
          [path, &expected, &thumbnail] {
            // The launch's own package has been read while the helper started.
            std::unique_ptr<PendingPackage> pending = std::move(expected);
            if (!pending || pending->path() != path) {
              pending = std::make_unique<PendingPackage>(path);
            }
            OpenedPackage opened = pending->finish();
            // The reader stays to decode the thumbnail while the question is open.
            thumbnail = std::move(opened.thumbnail);
            return opened.request;
          },
          [path](const SkinRequest&) { return QFileInfo(path).fileName(); }, discardPackage};
}
