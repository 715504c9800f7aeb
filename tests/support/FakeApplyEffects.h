#pragma once
// Side effects for delegate tests: no network and no engine. The image is
// "made local" by answering a fixed file URL, and each engine run is recorded
// (after `engineTakes`, as a real engine takes its time).
#include <QString>
#include <QUrl>
#include <chrono>
#include <thread>
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
    std::this_thread::sleep_for(engineTakes);
    engineRuns.push_back(request);
    if (!engineFailure.isEmpty()) throw HelperError::processFailed(engineFailure);
  }

  QUrl image = QUrl::fromLocalFile(QStringLiteral("/tmp/FAKE/background.png"));
  QString imageFailure;                      // thrown by localImage when not empty
  QString engineFailure;                     // thrown by runEngine when not empty
  std::chrono::milliseconds engineTakes{0};  // how long each engine run lasts
  int imagesMadeLocal = 0;
  std::vector<SkinRequest> engineRuns;
};
