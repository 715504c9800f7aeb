#include "package/PackageThumbnail.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>

#include "base/Limits.h"
#include "package/ReaderProtocol.h"

PackageThumbnail::PackageThumbnail(std::unique_ptr<ConfinedChild> reader, FileDescriptor answers,
                                   FileDescriptor requests, QSize size)
    : reader_(std::move(reader)),
      answers_(std::move(answers)),
      requests_(std::move(requests)),
      size_(size) {}

PackageThumbnail::~PackageThumbnail() {
  end();
}

void PackageThumbnail::decode(QSize pixels, Done done) {
  if (done_ || !reader_ || !reader_->running()) {
    if (done && !done_) done({}, {});
    return;
  }
  done_ = std::move(done);
  asked_ = pixels;
  deadline_ = new QTimer(this);
  deadline_->setSingleShot(true);
  // A decode that runs past the deadline (an image built to take hours)
  // is stopped; the question shows no thumbnail.
  connect(deadline_, &QTimer::timeout, this, [this] { finish({}, {}); });
  deadline_->start(kThumbnailDeadline);
  ::fcntl(answers_.get(), F_SETFL, ::fcntl(answers_.get(), F_GETFL) | O_NONBLOCK);
  notifier_ = new QSocketNotifier(answers_.get(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { readable(); });
  if (!writeAll(requests_.get(), encodeThumbnailRequest(pixels))) finish({}, {});
  requests_ = FileDescriptor(-1);
}

void PackageThumbnail::readable() {
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(answers_.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // The reader ended (a limit, a crash) before the whole picture came, or
    // sent more or other than was asked for.
    if (got <= 0 || !frame_.take(QByteArray(chunk, got), asked_)) {
      finish({}, {});
      return;
    }
    if (frame_.complete()) {
      finish(frame_.pixels(), frame_.size());
      return;
    }
  }
}

void PackageThumbnail::finish(const QByteArray& argb32, QSize pixels) {
  end();
  if (Done done = std::exchange(done_, nullptr)) done(argb32, pixels);
}

void PackageThumbnail::end() {
  if (notifier_ != nullptr) notifier_->setEnabled(false);
  if (deadline_ != nullptr) deadline_->stop();
  if (reader_) reader_->end();
  answers_ = FileDescriptor(-1);
  requests_ = FileDescriptor(-1);
}
