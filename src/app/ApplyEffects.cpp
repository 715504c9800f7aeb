#include "app/ApplyEffects.h"

#include <QFileInfo>

#include "engine/SkinEngine.h"
#include "package/PackageManifest.h"

QUrl SystemApplyEffects::localImage(const SkinRequest& request, const DownloadOptions& download) {
  if (request.image.isLocalFile()) {
    // The reader that extracted it has been stopped: what lies there now is
    // what the engine gets, and it must still be the package's image.
    const QFileInfo image(request.image.toLocalFile());
    checkImageFile(image.path(), image.fileName());
    return request.image;
  }
  return downloadImage(request.image, download);
}

void SystemApplyEffects::runEngine(const SkinRequest& request) {
  applySkin(request.name, request.image, request.accent, request.secondary, request.highlight,
            engineEnvironment_);
}
