#include "link/ImageDownload.h"

#include <curl/curl.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <utility>

#include "BuildConfig.h"
#include "base/FreshDirectory.h"
#include "base/HelperError.h"
#include "base/ImageSignature.h"
#include "link/CurlLibrary.h"
#include "link/ImageResponse.h"
#include "link/TransferError.h"

namespace {

using Clock = std::chrono::steady_clock;

// The longest the transfer waits for the network before it looks at the
// stall timer again; a cancel wakes it at once.
constexpr int kPollMilliseconds = 200;

// libcurl's receive buffer: the most body bytes handed over at a time.
constexpr long kReceiveBuffer = 64 * 1024;

// libcurl is loaded and its global state (its TLS library included) set up
// once for the process, on first use, and never torn down.
void initialiseLibcurl() {
  curlLibrary();
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curlLibrary().easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curlLibrary().multi_cleanup(multi); }
};

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

bool isFollowedRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

/// One image transfer: a request, the redirects it leads to (each followed
/// by a fresh request, its target checked first), one final response judged
/// once from its headers, and that response's body streamed into the stored
/// file.
///
/// libcurl does the transfer; the rules are here. Redirects are followed
/// here, not by libcurl, so that every target passes the address check
/// before it is asked. The one easy handle is driven through a multi handle
/// of its own only so that a cancel from another thread can wake it at once
/// (curl_multi_wakeup); connections are kept between the hops.
class Transfer {
 public:
  Transfer(const QUrl& address, const DownloadOptions& options)
      : address_(address), options_(options) {}

  QUrl run() {
    try {
      setUp();
      if (options_.cancel) {
        options_.cancel->setStop([this] {
          cancelRequested_ = true;
          curlLibrary().multi_wakeup(multi_.get());
        });
      }
      QUrl hop = address_;
      for (;;) {
        if (cancelRequested_) throw DownloadCancelled();
        options_.validateAddress(hop);
        request(hop);
        if (redirectTo_.isEmpty()) break;
        if (++redirects_ > kMaxRedirects) throw imageNotDownloaded();
        hop = std::exchange(redirectTo_, QUrl());
      }
      finishBody();
    } catch (...) {
      fail(std::current_exception());
    }
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
  void setUp() {
    initialiseLibcurl();
    multi_.reset(curlLibrary().multi_init());
    easy_.reset(curlLibrary().easy_init());
    if (!multi_ || !easy_) throw downloadNotStarted();
    CURL* const e = easy_.get();
    bool set = true;
    const auto option = [&](CURLoption name, auto value) {
      set = set && curlLibrary().easy_setopt(e, name, value) == CURLE_OK;
    };
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_PROTOCOLS_STR, "https");
    option(CURLOPT_REDIR_PROTOCOLS_STR, "https");
    option(CURLOPT_FOLLOWLOCATION, 0L);
    option(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Every coding libcurl can decode is offered, and a body sent encoded
    // anyway is decoded too; the decoded bytes are what the limit counts.
    option(CURLOPT_ACCEPT_ENCODING, "");
    // A proxy's answer to the tunnel request is not the server's response.
    option(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    option(CURLOPT_USERAGENT, "velmora-helper/" VELMORA_VERSION);
    option(CURLOPT_BUFFERSIZE, kReceiveBuffer);
    option(CURLOPT_HEADERFUNCTION, &Transfer::headerCallback);
    option(CURLOPT_HEADERDATA, this);
    option(CURLOPT_WRITEFUNCTION, &Transfer::writeCallback);
    option(CURLOPT_WRITEDATA, this);
    option(CURLOPT_XFERINFOFUNCTION, &Transfer::progressCallback);
    option(CURLOPT_XFERINFODATA, this);
    option(CURLOPT_NOPROGRESS, 0L);
    if (!options_.certificateAuthorities.isEmpty()) {
      const QByteArray file = QFile::encodeName(options_.certificateAuthorities);
      option(CURLOPT_CAINFO, file.constData());
      option(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    } else if (char* directory = nullptr;
               curlLibrary().easy_getinfo(e, CURLINFO_CAPATH, &directory) == CURLE_OK &&
               directory) {
      // Where the system keeps its authorities in a hashed directory too, the
      // TLS library looks up just the ones a chain needs, instead of reading
      // and holding the whole bundle for each connection.
      option(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    }
    if (!set) throw downloadNotStarted();
  }

  // Sends one GET to `address` and runs it until it ends: with the final
  // response's body stored, with a redirect to follow in redirectTo_, or
  // with a failure, which it throws.
  void request(const QUrl& address) {
    hop_ = address;
    startResponse();
    sawStatus_ = false;
    receivedAny_ = false;
    wireBytes_ = 0;
    lastByte_ = Clock::now();
    const QByteArray encoded = address.toEncoded();
    if (curlLibrary().easy_setopt(easy_.get(), CURLOPT_URL, encoded.constData()) != CURLE_OK ||
        curlLibrary().multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) {
      throw downloadNotStarted();
    }
    const CURLcode result = drive();
    curlLibrary().multi_remove_handle(multi_.get(), easy_.get());
    if (failure_) std::rethrow_exception(failure_);
    if (!redirectTo_.isEmpty()) return;  // this response was left unread
    if (result != CURLE_OK) std::rethrow_exception(failed(result));
    if (!judged_) throw imageNotDownloaded();  // no final response came
  }

  // Runs the transfer until libcurl reports it done or a check ends it.
  CURLcode drive() {
    for (;;) {
      int running = 0;
      if (curlLibrary().multi_perform(multi_.get(), &running) != CURLM_OK) {
        fail(std::make_exception_ptr(downloadNotStarted()));
        return CURLE_FAILED_INIT;
      }
      int queued = 0;
      while (const CURLMsg* message = curlLibrary().multi_info_read(multi_.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) return message->data.result;
      }
      if (failure_ || mustStop()) return CURLE_ABORTED_BY_CALLBACK;
      curlLibrary().multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
    }
  }

  // Whether the user cancelled or the transfer stalled; either becomes the
  // transfer's failure.
  bool mustStop() {
    if (cancelRequested_) {
      fail(std::make_exception_ptr(DownloadCancelled()));
      return true;
    }
    if (Clock::now() - lastByte_ >= options_.stallTimeout) {
      fail(failed(CURLE_OPERATION_TIMEDOUT));
      return true;
    }
    return false;
  }

  // Keeps the first failure.
  void fail(std::exception_ptr failure) {
    if (!failure_) failure_ = std::move(failure);
  }

  // The error for a transfer libcurl ended with `result`.
  std::exception_ptr failed(CURLcode result) const {
    // A response that began but could not be read as HTTP up to its body
    // (libcurl's own bounds on a header line included), an encoding libcurl
    // does not know or a broken encoded stream: the server's fault.
    curl_off_t firstByte = 0;
    curlLibrary().easy_getinfo(easy_.get(), CURLINFO_STARTTRANSFER_TIME_T, &firstByte);
    const bool answering = sawStatus_ || firstByte > 0;
    if (result == CURLE_BAD_CONTENT_ENCODING ||
        (answering && !judged_ && result != CURLE_OPERATION_TIMEDOUT)) {
      return std::make_exception_ptr(imageNotDownloaded());
    }
    TransferFailure failure;
    failure.code = result;
    failure.host = hop_.host();
    failure.proxy = environmentProxyHost(hop_.host(QUrl::FullyEncoded));
    failure.receivedAny = receivedAny_;
    failure.resourcesShort = resourcesShort();
    curlLibrary().easy_getinfo(easy_.get(), CURLINFO_HTTP_CONNECTCODE, &failure.proxyStatus);
    curlLibrary().easy_getinfo(easy_.get(), CURLINFO_SSL_VERIFYRESULT, &failure.certificateCheck);
    return std::make_exception_ptr(transferError(failure));
  }

  // --- headers ---------------------------------------------------------------

  // A new response begins (a status line, or the end of an informational one).
  void startResponse() {
    contentType_.reset();
    contentLength_.reset();
    contentEncoding_.reset();
    location_.reset();
  }

  static size_t headerCallback(char* data, size_t size, size_t count, void* self) {
    return static_cast<Transfer*>(self)->onHeader(QByteArrayView(data, size * count));
  }

  size_t onHeader(QByteArrayView line) {
    lastByte_ = Clock::now();
    receivedAny_ = true;
    headerBytes_ += line.size();
    if (headerBytes_ > kMaxResponseHeaderBytes) {
      fail(std::make_exception_ptr(imageNotDownloaded()));
      return 0;
    }
    if (judged_) return line.size();  // trailers after the body
    if (line.startsWith("HTTP/")) {
      startResponse();
      sawStatus_ = true;
      return line.size();
    }
    if (line.trimmed().isEmpty()) return endOfHeaders() ? line.size() : 0;
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) {
      const QByteArrayView name = line.first(colon).trimmed();
      const QByteArray value = line.sliced(colon + 1).trimmed().toByteArray();
      for (auto [known, kept] :
           {std::pair{"content-type", &contentType_}, std::pair{"content-length", &contentLength_},
            std::pair{"content-encoding", &contentEncoding_}, std::pair{"location", &location_}}) {
        if (name.compare(QByteArrayView(known), Qt::CaseInsensitive) != 0) continue;
        // Repeated fields read as one list, as HTTP defines them.
        *kept = kept->has_value() ? **kept + ", " + value : value;
      }
    }
    return line.size();
  }

  // The blank line after a response's headers: an informational response is
  // passed over, a redirect is left for its target, the final response is
  // judged. False ends the transfer.
  bool endOfHeaders() {
    long status = 0;
    curlLibrary().easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200) {
      startResponse();
      return true;
    }
    if (isFollowedRedirect(status) && location_ && !location_->isEmpty()) {
      // Resolved against the address that answered, as a browser does;
      // request() checks the target before asking it.
      redirectTo_ = hop_.resolved(QUrl::fromEncoded(*location_));
      if (redirectTo_.isEmpty()) fail(std::make_exception_ptr(imageNotDownloaded()));
      return false;
    }
    try {
      ImageResponseHead head;
      head.status = static_cast<int>(status);
      head.finalAddress = hop_;
      head.contentType = contentType_;
      head.contentLength = contentLength_;
      head.contentEncoding = contentEncoding_;
      accepted_ = judgeImageResponse(head, address_, options_.validateAddress);
      judged_ = true;
      total_ = accepted_.announcedBytes;
      return true;
    } catch (...) {
      fail(std::current_exception());
      return false;
    }
  }

  // --- the body --------------------------------------------------------------

  static size_t writeCallback(char* data, size_t size, size_t count, void* self) {
    return static_cast<Transfer*>(self)->onBody(QByteArrayView(data, size * count));
  }

  size_t onBody(QByteArrayView bytes) {
    const size_t length = bytes.size();
    lastByte_ = Clock::now();
    receivedAny_ = true;
    try {
      if (!judged_) throw imageNotDownloaded();
      if (accepted_.needsSignature && !signatureChecked_) {
        const qsizetype taken =
            std::min<qsizetype>(kImageSignatureBytes - signature_.size(), bytes.size());
        signature_.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        if (signature_.size() < kImageSignatureBytes) return length;
        checkSignature();
      }
      keep(bytes);
    } catch (...) {
      fail(std::current_exception());
      return 0;
    }
    return length;
  }

  // A body of a generic binary type is taken only when it starts like an
  // image; its first bytes, held back until now, are then stored.
  void checkSignature() {
    signatureChecked_ = true;
    if (!hasImageSignature(signature_)) throw notAnImage();
    keep(signature_);
    signature_.clear();
  }

  static int progressCallback(void* self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(self)->onProgress(received);
  }

  // Called by libcurl often, also while nothing arrives. `received` counts
  // the body as sent, before any decoding.
  int onProgress(curl_off_t received) {
    if (received != wireBytes_) {
      wireBytes_ = received;
      lastByte_ = Clock::now();
      receivedAny_ = true;
    }
    if (received > kMaxImageWireBytes) {
      fail(std::make_exception_ptr(imageEmptyOrTooLarge()));
      return 1;
    }
    return mustStop() ? 1 : 0;
  }

  // Adds image bytes to the file, refusing an image past the limit.
  void keep(QByteArrayView bytes) {
    if (bytes.isEmpty()) return;
    if (received_ + bytes.size() > kMaxImageBytes) throw imageEmptyOrTooLarge();
    if (!file_.isOpen()) openFile();
    writeWhole(bytes);
    received_ += bytes.size();
    if (options_.progress) options_.progress(received_, total_);
  }

  // The stored file, in a fresh directory, made when the first image bytes
  // arrive.
  void openFile() {
    directory_ = createFreshDirectory(options_.temporaryRoot);
    file_.setFileName(
        QDir(directory_).filePath(QStringLiteral("background.") + accepted_.extension));
    // Unbuffered: each chunk goes straight to the file, so a failed write is
    // seen, with the system's reason, at the chunk that failed.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
      throw PlatformError(file_.fileName() + QStringLiteral(": ") + file_.errorString());
    }
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

  // The final response has ended: what is held back is judged, and the file
  // is complete.
  void finishBody() {
    if (accepted_.needsSignature && !signatureChecked_ && !signature_.isEmpty()) {
      checkSignature();
    }
    if (received_ == 0) throw imageEmptyOrTooLarge();
    if (!file_.flush())
      throw PlatformError(file_.fileName() + QStringLiteral(": ") + file_.errorString());
    file_.close();
  }

  const QUrl address_;
  const DownloadOptions& options_;
  std::unique_ptr<CURLM, MultiDeleter> multi_;
  std::unique_ptr<CURL, EasyDeleter> easy_;  // goes before multi_
  std::atomic<bool> cancelRequested_ = false;

  QUrl hop_;         // the address being asked now
  QUrl redirectTo_;  // set when the current response is a redirect to follow
  int redirects_ = 0;
  // The current response's headers.
  std::optional<QByteArray> contentType_, contentLength_, contentEncoding_, location_;
  bool sawStatus_ = false;  // a status line came for the current hop
  bool judged_ = false;
  AcceptedImage accepted_;

  Clock::time_point lastByte_;  // when the last byte of any kind arrived
  bool receivedAny_ = false;    // on the current hop
  qint64 headerBytes_ = 0;      // over every response
  curl_off_t wireBytes_ = 0;    // the current body as sent

  QByteArray signature_;  // a generic binary body's first bytes, held back
  bool signatureChecked_ = false;
  QString directory_;  // the fresh directory, once made
  QFile file_;
  qint64 received_ = 0;  // image bytes stored
  qint64 total_ = -1;
  std::exception_ptr failure_;
};

}  // namespace

QUrl downloadImage(const QUrl& address, const DownloadOptions& options) {
  FinishedNotice notice(options.finished);
  Transfer transfer(address, options);
  return transfer.run();
}
