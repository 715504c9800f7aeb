#include "console/InterruptWatch.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "base/ConfinedChild.h"

namespace {

// The pipe from the handler to the event loop, and the action it replaced.
int interruptPipe[2] = {-1, -1};
struct sigaction previousAction {};

extern "C" void onSigint(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a pending interrupt: nothing is lost.
  [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], &byte, 1);
  errno = saved;
}

void closePipe() {
  for (int& end : interruptPipe) {
    if (end >= 0) ::close(end);
    end = -1;
  }
}

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
  // Neither end may block: the handler must never wait on a full pipe, and
  // the reader drains it until it is empty.
  if (!openPipe(interruptPipe)) return;
  for (const int end : interruptPipe) {
    if (::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK) != 0) {
      closePipe();
      return;
    }
  }
  notifier_ = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (::read(interruptPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (onInterrupt_) onInterrupt_();
  });
  struct sigaction action {};
  action.sa_handler = onSigint;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  active_ = ::sigaction(SIGINT, &action, &previousAction) == 0;
}

InterruptWatch::~InterruptWatch() {
  if (active_) ::sigaction(SIGINT, &previousAction, nullptr);
  notifier_.reset();
  closePipe();
}
