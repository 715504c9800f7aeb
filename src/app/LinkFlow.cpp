// The link flow: a velmora link from the open event to the final alert.
#include "app/AppDelegate.h"
#include "link/ImageDownload.h"
#include "link/SkinLink.h"

void AppDelegate::handleDeepLink(const QString& link) {
  if (operationInFlight_) return;
  const std::optional<SkinRequest> request = readAndConfirm(
      QStringLiteral("Invalid skin link"), [&link] { return requestFromLink(link); });
  if (!request) return;
  // Nothing is fetched before the user has confirmed a fully checked request.
  startApplying(*request, [this](const QUrl& remote) {
    DownloadOptions options;
    options.progress = [this](qint64 received, qint64 total) {
      ui_.downloadProgress(received, total);
    };
    options.finished = [this] { ui_.downloadFinished(); };
    return downloadImage(remote, options);
  });
}
