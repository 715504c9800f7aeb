#include "link/ImageDownload.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <exception>
#include <memory>

#include "base/FreshDirectory.h"
#include "base/HelperError.h"
#include "link/ContentDecoding.h"
#include "link/ContentLength.h"
#include "link/ImageResponse.h"

namespace {

// Qt buffers at most this much of the body; the rest waits in the socket.
constexpr qint64 kReadChunk = 64 * 1024;

/// Calls the caller's `finished` once when the download ends, whichever way.
class FinishedNotice {
 public:
  explicit FinishedNotice(const std::function<void()>& finished) : finished_(finished) {}
  FinishedNotice(const FinishedNotice&) = delete;
  FinishedNotice& operator=(const FinishedNotice&) = delete;
  ~FinishedNotice() {
    if (!finished_) return;
    try {
      finished_();
    } catch (...) {
      // A notification cannot change the download's outcome.
    }
  }

 private:
  const std::function<void()>& finished_;
};

/// One image transfer: a request, the redirects it leads to (each followed
/// by a fresh request, its target checked first), one final response judged
/// once, and that response's body streamed into the stored file.
///
/// Redirects are followed here rather than by Qt: Qt 6.4's own following
/// resends requests and, after two or more hops, ends the reply as a bodiless
/// "status 100" success. Compressed bodies are decoded here too: Qt's own
/// decoding refuses large images by its own ratio limit and, on a bomb,
/// reports an error without ever finishing the reply.
class Transfer {
 public:
  Transfer(const QUrl& address, const DownloadOptions& options)
      : address_(address), options_(options) {}

  QUrl run() {
    stall_.setSingleShot(true);
    stall_.setInterval(options_.stallTimeout);
    QObject::connect(&stall_, &QTimer::timeout, &loop_,
                     [this] { fail(std::make_exception_ptr(imageNotDownloaded())); });
    if (options_.cancel) {
      // Posted to this thread's loop: the reply may only be touched here.
      options_.cancel->setStop([this] {
        QMetaObject::invokeMethod(
            &loop_, [this] { fail(std::make_exception_ptr(DownloadCancelled())); },
            Qt::QueuedConnection);
      });
    }

    if (cancelled()) fail(std::make_exception_ptr(DownloadCancelled()));
    if (!done_) send(address_);
    if (!done_) loop_.exec();
    stall_.stop();
    if (options_.cancel) options_.cancel->setStop({});

    // A transfer cancelled as it ended is cancelled all the same; one that
    // ended with its image can no longer be.
    if (!failure_ && options_.cancel && !options_.cancel->end()) {
      failure_ = std::make_exception_ptr(DownloadCancelled());
    }
    if (failure_) {
      // What was never handed on is taken back: the partial file and its directory.
      file_.close();
      if (!directory_.isEmpty()) removeTree(directory_);
      std::rethrow_exception(failure_);
    }
    return QUrl::fromLocalFile(file_.fileName());
  }

 private:
  // Sends one GET to `address` once the address check has accepted it, so a
  // refused address is never sent a request.
  void send(const QUrl& address) {
    options_.validateAddress(address);

    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // The images are compressed already. Asking for no coding also keeps Qt
    // from decoding a body itself; one that comes encoded anyway is decoded
    // in store(), under the helper's own limit.
    request.setRawHeader("Accept-Encoding", "identity");
    reply_ = manager_.get(request);
    reply_->setReadBufferSize(kReadChunk);

    QObject::connect(reply_, &QNetworkReply::metaDataChanged, &loop_,
                     [this] { guarded([this] { onMetaData(); }); });
    QObject::connect(reply_, &QNetworkReply::readyRead, &loop_,
                     [this] { guarded([this] { onReadyRead(); }); });
    QObject::connect(reply_, &QNetworkReply::finished, &loop_,
                     [this] { guarded([this] { onFinished(); }); });
    // Qt may report an error and never finish the reply: an error ends the
    // transfer at once.
    QObject::connect(reply_, &QNetworkReply::errorOccurred, &loop_,
                     [this] { guarded([this] { onError(); }); });
    stall_.start();
  }

  bool cancelled() const { return options_.cancel && options_.cancel->cancelled(); }

  // Runs a step; its exception becomes the transfer's failure instead of
  // unwinding through Qt's event loop.
  template <typename Step>
  void guarded(Step step) {
    if (done_) return;
    try {
      step();
    } catch (...) {
      fail(std::current_exception());
    }
  }

  // Keeps the first failure and ends the transfer at once.
  void fail(std::exception_ptr failure) {
    if (!failure_) failure_ = std::move(failure);
    end();
    // The reply is not aborted here: a refusal made on the headers comes
    // before Qt's own report of an error status, and aborting would make Qt
    // report a second error, which it warns about on the user's terminal.
    // The transfer ends with this loop, and the reply goes with the manager
    // as soon as run() returns, which stops its connection.
  }

  void end() {
    done_ = true;
    loop_.quit();
  }

  void onMetaData() {
    stall_.start();
    settleResponse(false);
  }

  void onReadyRead() {
    stall_.start();
    settleResponse(false);
    if (judged_) store();
  }

  void onFinished() {
    if (!judged_) {
      if (statusCode() == 0 && reply_->error() != QNetworkReply::NoError) throw transferFailed();
      const int hops = redirects_;
      settleResponse(true);
      if (redirects_ != hops) return;  // a redirect is being followed
    }
    if (reply_->error() != QNetworkReply::NoError) throw transferFailed();
    store();
    if (decoder_ && !decoder_->complete()) throw imageNotDownloaded();  // cut short
    if (received_ == 0) throw imageEmptyOrTooLarge();
    if (!file_.flush())
      throw PlatformError(file_.fileName() + QStringLiteral(": ") + file_.errorString());
    file_.close();
    end();
  }

  // A response whose headers decide its fate (a refused status, a redirect)
  // is judged first; any other error is the transfer's, in the network's words.
  void onError() {
    if (!judged_ && statusCode() != 0) {
      const int hops = redirects_;
      settleResponse(false);
      if (redirects_ != hops) return;
    }
    throw transferFailed();
  }

  PlatformError transferFailed() const {
    return PlatformError(transferFailureText(reply_->errorString()));
  }

  // Decides what the current response is, once its headers are known: a
  // redirect to follow, or the final response to judge. An informational
  // (1xx) or missing status waits for more, unless the reply has ended.
  void settleResponse(bool ended) {
    if (judged_) return;
    const int status = statusCode();
    if (status < 200 && !ended) return;
    const QByteArray location = reply_->rawHeader("Location");
    if (isFollowedRedirect(status) && !location.isEmpty()) {
      follow(reply_->url().resolved(QUrl::fromEncoded(location)));
      return;
    }
    judgeOnce();
  }

  static bool isFollowedRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  }

  // Leaves the redirect response unread and asks for its target instead.
  void follow(const QUrl& target) {
    if (++redirects_ > kMaxRedirects) throw imageNotDownloaded();
    QNetworkReply* const redirect = reply_;
    QObject::disconnect(redirect, nullptr, &loop_, nullptr);
    redirect->abort();
    redirect->deleteLater();
    reply_ = nullptr;
    send(target);
  }

  int statusCode() const {
    return reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  }

  // Judges the final response from its headers, then opens the stored file.
  void judgeOnce() {
    if (judged_) return;
    judged_ = true;

    ImageResponseHead head;
    head.status = statusCode();
    head.finalAddress = reply_->url();
    if (reply_->hasRawHeader("Content-Type")) head.contentType = reply_->rawHeader("Content-Type");
    if (reply_->hasRawHeader("Content-Length")) {
      head.contentLength = reply_->rawHeader("Content-Length");
      const std::optional<qint64> announced = readContentLength(*head.contentLength);
      if (announced && *announced >= 0) total_ = *announced;
    }
    if (reply_->hasRawHeader("Content-Encoding")) {
      head.contentEncoding = reply_->rawHeader("Content-Encoding");
    }
    const QString extension = judgeImageResponse(head, address_, options_.validateAddress);
    const ContentCoding coding = readContentCoding(head.contentEncoding);
    if (coding != ContentCoding::identity) {
      decoder_ = std::make_unique<BodyDecoder>(coding);
      total_ = -1;  // the announced length is not the image's
    }

    directory_ = createFreshDirectory(options_.temporaryRoot);
    file_.setFileName(QDir(directory_).filePath(QStringLiteral("background.") + extension));
    // Unbuffered: each chunk goes straight to the file, so a failed write is
    // seen, with the system's reason, at the chunk that failed.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
      throw PlatformError(file_.fileName() + QStringLiteral(": ") + file_.errorString());
    }
  }

  // Moves what Qt has buffered into the file, decoded when the body came
  // encoded, refusing a body past the limit: the image itself, and the body
  // as sent, which may not run on without end either.
  void store() {
    while (reply_->bytesAvailable() > 0) {
      const QByteArray chunk = reply_->read(kReadChunk);
      if (chunk.isEmpty()) break;
      if (sent_ + chunk.size() > kMaxImageBytes) throw imageEmptyOrTooLarge();
      sent_ += chunk.size();
      if (!decoder_) {
        keep(chunk);
      } else if (!decoder_->feed(chunk, [this](QByteArrayView piece) { keep(piece); })) {
        throw imageNotDownloaded();
      }
    }
  }

  // Adds image bytes to the file, refusing an image past the limit.
  void keep(QByteArrayView bytes) {
    if (received_ + bytes.size() > kMaxImageBytes) throw imageEmptyOrTooLarge();
    writeWhole(bytes);
    received_ += bytes.size();
    if (options_.progress) options_.progress(received_, total_);
  }

  // A short write (the disk filled up, a file-size limit) is followed by
  // another, which then fails with the reason that the short one did not give.
  void writeWhole(QByteArrayView chunk) {
    for (qint64 done = 0; done < chunk.size();) {
      const qint64 written = file_.write(chunk.constData() + done, chunk.size() - done);
      if (written <= 0) {
        throw PlatformError(file_.fileName() + QStringLiteral(": ") + file_.errorString());
      }
      done += written;
    }
  }

  const QUrl address_;
  const DownloadOptions& options_;
  // The loop comes first: it gives this thread the event dispatcher that the
  // manager and the timer need.
  QEventLoop loop_;
  QNetworkAccessManager manager_;
  QTimer stall_;
  QNetworkReply* reply_ = nullptr;  // owned by manager_
  QString directory_;               // the fresh directory, once made
  QFile file_;
  std::unique_ptr<BodyDecoder> decoder_;  // set for an encoded body
  qint64 sent_ = 0;                       // body bytes as sent
  qint64 received_ = 0;                   // image bytes stored
  qint64 total_ = -1;
  int redirects_ = 0;
  bool judged_ = false;
  bool done_ = false;
  std::exception_ptr failure_;
};

}  // namespace

QUrl downloadImage(const QUrl& address, const DownloadOptions& options) {
  FinishedNotice notice(options.finished);
  Transfer transfer(address, options);
  return transfer.run();
}
