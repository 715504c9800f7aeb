// The link flow: a velmora link from the open event to the final alert.
#include "app/AppDelegate.h"
#include "app/HelperError.h"
#include "link/ImageDownload.h"
#include "link/SkinLink.h"

void AppDelegate::handleDeepLink(const QString& link) {
  if (operationInFlight_) return;
  SkinRequest request;
  try {
    request = requestFromLink(link);
  } catch (const Failure& error) {
    finish(QStringLiteral("Invalid skin link"), error.localizedDescription(), kExitFailed);
    return;
  }
  if (mode_ == Mode::apply && !confirmApply(request.name)) {
    terminate(kExitCancelled);
    return;
  }
  startApplying(request, [this](const QUrl& remote) {
    DownloadOptions options;
    options.progress = [this](qint64 received, qint64 total) { ui_.downloadProgress(received, total); };
    options.finished = [this] { ui_.downloadFinished(); };
    return downloadImage(remote, options);
  });
}
