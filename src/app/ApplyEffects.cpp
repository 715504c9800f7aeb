#include "app/ApplyEffects.h"

#include "engine/SkinEngine.h"

QUrl SystemApplyEffects::localImage(const SkinRequest& request, const DownloadOptions& download) {
  if (request.image.isLocalFile()) return request.image;
  return downloadImage(request.image, download);
}

void SystemApplyEffects::runEngine(const SkinRequest& request) {
  applySkin(request.name, request.image, request.accent, request.secondary, request.highlight,
            engineEnvironment_);
}
