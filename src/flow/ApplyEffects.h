#pragma once
#include <QProcessEnvironment>
#include <QUrl>
#include <functional>
#include <memory>

#include "link/DownloadCancel.h"
#include "request/SkinRequest.h"

/// Bytes of a skin's image received so far (total -1 when not announced),
/// reported on the downloading thread.
using DownloadProgress = std::function<void(qint64 received, qint64 total)>;

/// The two side effects of applying a skin: making its image a local file
/// and running the engine. The delegate reaches them only through this, so
/// its flows run alike with the real ones and with fakes. Both are called on
/// the worker thread, one after the other, never at once, and throw Failure
/// (or std::exception) when they fail.
class ApplyEffects {
 public:
  virtual ~ApplyEffects() = default;

  /// The request's image as a local file. A remote image reports its bytes to
  /// `progress` as they arrive, and stops at once, throwing
  /// DownloadCancelled, when `cancel` (null for a local image) is cancelled.
  virtual QUrl localImage(const SkinRequest& request, const DownloadProgress& progress,
                          const std::shared_ptr<DownloadCancel>& cancel) = 0;

  /// Runs the skin engine once for `request`, whose image is local, and waits for it.
  virtual void runEngine(const SkinRequest& request) = 0;
};

/// The helper's own effects: a link's image is downloaded (a package's was
/// extracted before the user was asked and is taken as it is), and the engine
/// in the user's home directory is run.
class SystemApplyEffects final : public ApplyEffects {
 public:
  /// The engine is found through, and started with, `engineEnvironment`: the
  /// environment the helper was started with.
  explicit SystemApplyEffects(QProcessEnvironment engineEnvironment)
      : engineEnvironment_(std::move(engineEnvironment)) {}

  QUrl localImage(const SkinRequest& request, const DownloadProgress& progress,
                  const std::shared_ptr<DownloadCancel>& cancel) override;
  void runEngine(const SkinRequest& request) override;

 private:
  const QProcessEnvironment engineEnvironment_;  ///< read-only, on the worker
};
