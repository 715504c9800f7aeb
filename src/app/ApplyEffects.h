#pragma once
#include <QProcessEnvironment>
#include <QUrl>

#include "link/ImageDownload.h"
#include "request/SkinRequest.h"

/// The two side effects of applying a skin: making its image a local file
/// and running the engine. The delegate reaches them only through this, so
/// its flows run alike with the real ones and with fakes. Both are called on
/// the worker thread, one after the other, never at once, and throw Failure
/// (or std::exception) when they fail.
class ApplyEffects {
 public:
  virtual ~ApplyEffects() = default;

  /// The request's image as a local file. `download` says how a remote image
  /// is fetched and where its progress goes.
  virtual QUrl localImage(const SkinRequest& request, const DownloadOptions& download) = 0;

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

  QUrl localImage(const SkinRequest& request, const DownloadOptions& download) override;
  void runEngine(const SkinRequest& request) override;

 private:
  const QProcessEnvironment engineEnvironment_;  ///< read-only, on the worker
};
