#pragma once
// Side effects for delegate tests: no network and no engine. The image is
// "made local" by answering a fixed file URL (after `imageTakes`), and each
// engine run is recorded (after `engineTakes`, as a real engine takes its
// time). A cancel is the delegate's to honour.
#include <QString>
#include <QUrl>
#include <chrono>
#include <thread>
#include <vector>

#include "base/HelperError.h"
#include "flow/ApplyEffects.h"

class FakeApplyEffects final : public ApplyEffects {
 public:
  QUrl localImage(const SkinRequest&, const DownloadProgress& progress,
                  const std::shared_ptr<DownloadCancel>&) override {
    ++imagesMadeLocal;
    if (progress) progress(0, -1);
    std::this_thread::sleep_for(imageTakes);
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
