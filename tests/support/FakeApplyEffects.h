#pragma once
// Side effects for delegate tests: no network and no engine. The image is
// "made local" by answering a fixed file URL (after `imageTakes`, unless the
// download is cancelled), and each engine run is recorded (after
// `engineTakes`, as a real engine takes its time).
#include <QString>
#include <QUrl>
#include <chrono>
#include <thread>
#include <vector>

#include "app/ApplyEffects.h"
#include "base/HelperError.h"

class FakeApplyEffects final : public ApplyEffects {
 public:
  QUrl localImage(const SkinRequest&, const DownloadOptions& download) override {
    ++imagesMadeLocal;
    // Takes `imageTakes`, unless cancelled first: then it stops at once and
    // throws, as the real download does; once it has ended it can no longer be.
    const auto until = std::chrono::steady_clock::now() + imageTakes;
    while (std::chrono::steady_clock::now() < until) {
      if (download.cancel && download.cancel->cancelled()) throw DownloadCancelled();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (download.cancel && !download.cancel->end()) throw DownloadCancelled();
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
  std::chrono::milliseconds imageTakes{0};   // how long making the image local lasts
  int imagesMadeLocal = 0;
  std::vector<SkinRequest> engineRuns;
};
