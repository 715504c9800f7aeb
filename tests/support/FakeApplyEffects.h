#pragma once
// Side effects for delegate tests: no network and no engine. The image is
// "made local" by answering a fixed file URL, and each engine run is recorded.
#include <QString>
#include <QUrl>
#include <vector>

#include "app/ApplyEffects.h"
#include "base/HelperError.h"

class FakeApplyEffects final : public ApplyEffects {
 public:
  QUrl localImage(const SkinRequest&, const DownloadOptions&) override {
    ++imagesMadeLocal;
    if (!imageFailure.isEmpty()) throw PlatformError(imageFailure);
    return image;
  }
  void runEngine(const SkinRequest& request) override {
    engineRuns.push_back(request);
    if (!engineFailure.isEmpty()) throw HelperError::processFailed(engineFailure);
  }

  QUrl image = QUrl::fromLocalFile(QStringLiteral("/tmp/FAKE/background.png"));
  QString imageFailure;   // thrown by localImage when not empty
  QString engineFailure;  // thrown by runEngine when not empty
  int imagesMadeLocal = 0;
  std::vector<SkinRequest> engineRuns;
};
