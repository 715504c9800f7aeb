#include "session/RunSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "base/ConfinedChild.h"
#include "flow/ExitStatus.h"

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The pipe from the handler to whoever watches, the first signal, and the
// actions the handler replaced.
int signalPipe[2] = {-1, -1};
std::atomic<int> firstSignal{0};
/// The helper's own process: a child between fork and exec still has the
/// handler, and must not speak for the helper.
pid_t helperProcess = 0;
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");
struct sigaction previousActions[std::size(kEndingSignals)]{};

extern "C" void onEndingSignal(int number) {
  const int saved = errno;
  int none = 0;
  if (::getpid() == helperProcess && firstSignal.compare_exchange_strong(none, number)) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
  }
  errno = saved;
}

void closePipe() {
  for (int& end : signalPipe) {
    if (end >= 0) ::close(end);
    end = -1;
  }
}

struct sigaction endingAction() {
  struct sigaction action {};
  action.sa_handler = onEndingSignal;
  sigemptyset(&action.sa_mask);
  for (const int number : kEndingSignals) sigaddset(&action.sa_mask, number);
  // Interrupted reads and waits go on: the run ends from the event loop.
  action.sa_flags = SA_RESTART;
  return action;
}

}  // namespace

RunSignals::RunSignals() {
  firstSignal = 0;
  helperProcess = ::getpid();
  if (!openPipe(signalPipe)) return;
  // The handler must never wait on the pipe.
  if (::fcntl(signalPipe[1], F_SETFL, ::fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK) != 0) {
    closePipe();
    return;
  }
  const struct sigaction action = endingAction();
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ::sigaction(kEndingSignals[i], &action, &previousActions[i]);
  }
  active_ = true;
}

RunSignals::~RunSignals() {
  if (active_) {
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      ::sigaction(kEndingSignals[i], &previousActions[i], nullptr);
    }
  }
  closePipe();
}

int RunSignals::received() const {
  return firstSignal.load();
}

int RunSignals::descriptor() const {
  return signalPipe[0];
}

void RunSignals::rearm() {
  if (!active_) return;
  const struct sigaction action = endingAction();
  for (const int number : kEndingSignals) {
    struct sigaction current {};
    if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      ::sigaction(number, &action, nullptr);
    }
  }
}

SignalEndedFrontEnd::SignalEndedFrontEnd(FrontEnd& inner, RunSignals& runSignals)
    : inner_(inner), signals_(runSignals) {
  if (signals_.descriptor() < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signals_.descriptor(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    // The byte stays in the pipe for every wait that watches it, so the
    // notifier, which would fire again and again, is done.
    notifier_->setEnabled(false);
    end();
  });
}

SignalEndedFrontEnd::~SignalEndedFrontEnd() = default;

void SignalEndedFrontEnd::end() {
  const int status = exitStatusAfterSignal(signals_.received(), kExitCancelled);
  if (cancel_) {
    // Refused once the image is stored: the engine is about to run.
    const bool stopped = cancel_();
    cancel_ = {};
    if (stopped) {
      // The download removes what it stored, and the flow ends the run;
      // when an alert (the busy answer) would hold that up, the loops end
      // now, and the download's thread is waited for as the delegate goes.
      if (alertsOpen_ > 0) QCoreApplication::exit(status);
      return;
    }
  }
  // The engine runs, or is about to: the run ends once it has, and the
  // single instance stays taken until then.
  if (applying_) return;
  // A question, an alert or nothing is open: every event loop ends, the
  // question's as Cancel.
  QCoreApplication::exit(status);
}

void SignalEndedFrontEnd::showAlert(AlertKind kind, const QString& title, const QString& text) {
  if (ended()) return;
  ++alertsOpen_;
  inner_.showAlert(kind, title, text);
  --alertsOpen_;
}

bool SignalEndedFrontEnd::askToApply(const QString& title, const QString& text,
                                     const ConfirmationDetails& details) {
  signals_.rearm();
  if (ended()) return false;
  const bool confirmed = inner_.askToApply(title, text, details);
  // A signal while the question was open answers it, whatever else did.
  return confirmed && !ended();
}

void SignalEndedFrontEnd::applyStarted(const QString& name, std::function<bool()> cancel) {
  signals_.rearm();
  applying_ = true;
  cancel_ = cancel;
  inner_.applyStarted(name, std::move(cancel));
}

void SignalEndedFrontEnd::downloadProgress(qint64 received, qint64 total) {
  inner_.downloadProgress(received, total);
}

void SignalEndedFrontEnd::engineStarted() {
  cancel_ = {};
  inner_.engineStarted();
}

void SignalEndedFrontEnd::applyEnded() {
  applying_ = false;
  cancel_ = {};
  inner_.applyEnded();
}

int exitStatusAfterSignal(int signal, int runStatus) {
  if (signal == SIGINT && runStatus == kExitCancelled) return kExitCancelled;
  return 128 + signal;
}
