#include "flow/ApplyEffects.h"

#include <QFileInfo>

#include "engine/SkinEngine.h"
#include "link/ImageDownload.h"
#include "package/PackageManifest.h"

QUrl SystemApplyEffects::localImage(const SkinRequest& request, const DownloadProgress& progress,
                                    const std::shared_ptr<DownloadCancel>& cancel) {
  if (request.image.isLocalFile()) {
    // The reader that extracted it has been stopped: what lies there now is
    // what the engine gets, and it must still be the package's image.
    const QFileInfo image(request.image.toLocalFile());
    checkImageFile(image.path(), image.fileName());
    return request.image;
  }
  DownloadOptions download;
  download.progress = progress;
  download.cancel = cancel;
  return downloadImage(request.image, download);
}

void SystemApplyEffects::runEngine(const SkinRequest& request) {
  applySkin(request, engineEnvironment_);
}
