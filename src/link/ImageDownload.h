#pragma once
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

#include "base/Limits.h"
#include "link/DownloadCancel.h"
#include "link/HostPolicy.h"

/// How one image download behaves; the defaults are the helper's own.
struct DownloadOptions {
  /// Checks every address the download would connect to (each redirect target
  /// before it is followed); throws to refuse it.
  std::function<void(const QUrl&)> validateAddress = validateRemoteImageURL;
  /// A transfer that receives nothing (no header or body byte) for this long fails.
  std::chrono::milliseconds stallTimeout = kDownloadStallTimeout;
  /// A PEM file of the certificate authorities trusted instead of the
  /// system's; empty means the system's.
  QString certificateAuthorities;
  /// Where the fresh UUID directory is made; empty means QDir::tempPath().
  QString temporaryRoot;
  /// Called on the downloading thread as bytes arrive (total -1 when unknown).
  std::function<void(qint64 received, qint64 total)> progress;
  /// Called on the downloading thread once the transfer has ended, either way.
  std::function<void()> finished;
  /// Stops the transfer from another thread: it then throws DownloadCancelled
  /// and leaves nothing behind. None: it runs to its end.
  std::shared_ptr<DownloadCancel> cancel;
};

/// Fetches `address` (already accepted by the host policy) over HTTPS with
/// libcurl and stores it as "background.<ext>" in a new UUID-named
/// directory; returns the stored file's URL. Follows redirects itself, each
/// target checked before it is asked; judges the response from its headers,
/// streams the body (decoded, when it came with a Content-Encoding) to the
/// file and cuts it off past kMaxImageBytes, and all headers past
/// kMaxResponseHeaderBytes. Proxies come from the environment as libcurl
/// reads it. Throws HelperError invalidRequest for a refused response,
/// PlatformError for transport and file-system failures (a sentence the user
/// can act on), and DownloadCancelled once cancelled (the partial file and
/// its directory removed). Blocks: call it off the main thread.
QUrl downloadImage(const QUrl& address, const DownloadOptions& options = {});
