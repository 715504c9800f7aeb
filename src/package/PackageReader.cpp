#include "package/PackageReader.h"

#include <QFileInfo>

#include "base/FreshDirectory.h"
#include "package/PackageManifest.h"
#include "package/PackageVetting.h"
#include "package/ZipExtractor.h"

SkinRequest readPackage(const QString& packagePath) {
  const InspectedPackage package = inspectPackage(packagePath);
  const QString directory = createFreshDirectory();
  try {
    // The same open file that was inspected, whatever its path names now.
    extractZip(package.file.get(), directory, package.names);
    return readManifest(directory);
  } catch (...) {
    // Nothing will ever read what a refused package left.
    removeTree(directory);
    throw;
  }
}

void discardPackage(const SkinRequest& request) {
  // The image lies at the top of the extraction directory.
  removeTree(QFileInfo(request.image.toLocalFile()).path());
}
