#include "flow/AppDelegate.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <new>
#include <system_error>

#include <unistd.h>

#include "base/HelperError.h"
#include "base/PathBytes.h"
#include "flow/BusyAlert.h"
#include "link/DownloadCancel.h"
#include "link/HostPolicy.h"
#include "link/SkinLink.h"

AppDelegate::AppDelegate(FrontEnd& ui, ApplyEffects& effects, Mode mode, RequestReport report,
                         Arrival arrival)
    : ui_(ui), effects_(effects), mode_(mode), report_(std::move(report)), arrival_(arrival) {}

AppDelegate::~AppDelegate() {
  if (worker_.joinable()) worker_.join();
}

const char* runStateName(RunState state) {
  switch (state) {
    case RunState::starting:
      return "starting";
    case RunState::ready:
      return "ready";
    case RunState::idle:
      return "idle";
    case RunState::asking:
      return "asking";
    case RunState::applying:
      return "applying";
    case RunState::busyAlert:
      return "busyAlert";
    case RunState::outcomeWaiting:
      return "outcomeWaiting";
    case RunState::finalAlert:
      return "finalAlert";
    case RunState::ended:
      return "ended";
  }
  return "?";
}

void AppDelegate::enter(RunState next) {
  // A change outside the table would let two alerts stack or a second engine
  // start: better to stop than to go on in a state nobody planned for.
  if (!runTransitionAllowed(state_, next)) {
    qFatal("velmora-helper: no run state change from %s to %s", runStateName(state_),
           runStateName(next));
  }
  state_ = next;
  emit stateChanged(next);
}

void AppDelegate::applicationDidFinishLaunching(std::chrono::milliseconds readyCheckDelay) {
  // The delegate is the timer's context object: if it is gone, the check never runs.
  QTimer::singleShot(readyCheckDelay, this, &AppDelegate::readyCheck);
}

void AppDelegate::readyCheck() {
  // Once an input has been taken up, the runs decide when the application ends.
  if (state_ != RunState::starting) return;
  if (!held_.empty()) {
    // Handed over but not yet taken up: the next turn of the loop does.
    enter(RunState::idle);
    return;
  }
  if (receivedInput_) {
    // What the launch received held nothing usable, and no window is left
    // for anyone to close.
    status_ = kExitUsage;
    enter(RunState::ended);
    QCoreApplication::exit(status_);
    return;
  }
  enter(RunState::ready);
  ui_.showAlert(AlertKind::notice, QStringLiteral("Velmora Helper is ready"),
                QStringLiteral("Choose a skin on ") + skinSiteDomain() +
                    QStringLiteral(" and click Apply to Orvane."));
  status_ = kExitApplied;
  runEnded();
}

void AppDelegate::open(const OpenEvent& event) {
  if (event.kind == OpenEvent::Kind::none) return;
  if (state_ == RunState::starting || state_ == RunState::idle) {
    takeUp(event);
    return;
  }
  deliverWhenIdle(event);
}

void AppDelegate::openUrls(const QStringList& urls) {
  open(OpenEvent{OpenEvent::Kind::urls, urls});
}

void AppDelegate::openFiles(const QStringList& paths) {
  open(OpenEvent{OpenEvent::Kind::files, paths});
}

void AppDelegate::takeUp(const OpenEvent& event) {
  receivedInput_ = true;
  if (event.kind == OpenEvent::Kind::files) {
    if (event.items.isEmpty()) {
      leftNothingToDo();
    } else {
      handlePackage(event.items.first());
    }
    return;
  }
  // One run per event: its first link or file URL; anything else is skipped.
  for (const QString& url : event.items) {
    if (uriScheme(url).toLower() == u"velmora") {
      handleDeepLink(url);
      return;
    }
    if (QUrl(url).isLocalFile()) {
      handlePackage(pathOfFileUrl(url));
      return;
    }
  }
  leftNothingToDo();
}

void AppDelegate::leftNothingToDo() {
  status_ = kExitUsage;
  if (arrival_ == Arrival::atLaunchOnly) {
    // Nothing else can come: the run ends now, saying what it needs.
    showFinal(AlertKind::usage, {},
              QStringLiteral("nothing to do: give a velmora:// link or a .velmora file"),
              kExitUsage);
    return;
  }
  // Before the ready check, something usable may still be handed over.
  if (state_ == RunState::starting) return;
  // Between runs: the next held input, or the end.
  if (!held_.empty()) {
    scheduleHeld();
    return;
  }
  enter(RunState::ended);
  QCoreApplication::exit(status_);
}

void AppDelegate::deliverWhenIdle(const OpenEvent& event) {
  if (state_ == RunState::ended) return;
  held_.push_back(event);
  // This runs in whichever event loop is turning. While an alert is open that
  // is the alert's own nested loop (QMessageBox::exec keeps delivering socket
  // and system events). Taking the event up from here would open a second
  // alert on top of the first, and a second question confirmed inside the
  // first could start a second engine. So it waits in held_ until the open
  // alert has closed, and is taken up from the top-level loop.
  scheduleHeld();
}

void AppDelegate::scheduleHeld() {
  QMetaObject::invokeMethod(this, &AppDelegate::takeUpHeld, Qt::QueuedConnection);
}

void AppDelegate::takeUpHeld() {
  if (held_.empty()) return;
  switch (state_) {
    case RunState::starting:
    case RunState::idle: {
      const OpenEvent next = held_.front();
      held_.pop_front();
      takeUp(next);
      return;
    }
    case RunState::applying:
      // Not taken up while a skin is being applied (no second engine run),
      // but answered, never dropped silently; one alert at a time.
      held_.pop_front();
      enter(RunState::busyAlert);
      showBusyAlert(ui_);
      if (state_ == RunState::busyAlert) {
        enter(RunState::applying);
        if (!held_.empty()) scheduleHeld();
        return;
      }
      // The worker ended while the busy alert was open.
      conclude(*std::exchange(waitingOutcome_, std::nullopt));
      return;
    default:
      // An alert is open: the held input is taken up once it has closed.
      return;
  }
}

bool AppDelegate::confirmApply(const SkinRequest& request, const QString& source) {
  // A package's image is already on disk and can be shown; a link's is not
  // fetched before the user agrees.
  const ConfirmationDetails details{source, request.accent, request.secondary, request.highlight,
                                    thumbnail_.get()};
  return ui_.askToApply(
      QStringLiteral("Apply ") + request.name + QStringLiteral(" to Orvane?"),
      QStringLiteral(
          "Velmora Helper will use the local open-source engine and may restart Orvane."),
      details);
}

void AppDelegate::handleDeepLink(const QString& link) {
  runFlow(linkInput(link));
}

void AppDelegate::handlePackage(const QString& path) {
  // A held package is read only now, when it is taken up.
  runFlow(packageInput(path, expected_, thumbnail_));
}

void AppDelegate::runFlow(const FlowInput& input) {
  enter(RunState::asking);
  SkinRequest request;
  try {
    request = input.read();
  } catch (const Failure& error) {
    showFinal(AlertKind::problem, input.refusalTitle, error.localizedDescription(), kExitFailed);
    return;
  }
  const bool confirmed = mode_ == Mode::check || confirmApply(request, input.source(request));
  // Whatever the answer, the package's reader stops now: before anything
  // removes or uses what it extracted, and without waiting for a thumbnail.
  thumbnail_.reset();
  if (!confirmed) {
    if (input.discard) input.discard(request);
    status_ = kExitCancelled;
    runEnded();
    return;
  }
  enter(RunState::applying);
  // Inputs handed over while the question was open are answered now.
  if (!held_.empty()) scheduleHeld();
  // A link's image is downloaded now, and the user may stop that.
  std::function<bool()> cancel;
  if (!request.image.isLocalFile()) {
    downloadCancel_ = std::make_shared<DownloadCancel>();
    cancel = [download = downloadCancel_] { return download->cancel(); };
  }
  ui_.applyStarted(request.name, std::move(cancel));
  // Nothing is fetched before the user has confirmed a fully checked request.
  auto local = std::make_shared<SkinRequest>(request);
  offMainThread(
      [this, local, cancel = downloadCancel_] {
        local->image = effects_.localImage(
            *local,
            [this](qint64 received, qint64 total) { ui_.downloadProgress(received, total); },
            cancel);
        // Once the image is stored, cancelling is refused: it is the
        // engine's now. A cancel that came first wins, whatever the effects did.
        if (cancel && !cancel->end()) throw DownloadCancelled();
      },
      [this, local] { imageIsLocal(*local); });
}

void AppDelegate::imageIsLocal(const SkinRequest& local) {
  if (mode_ == Mode::check) {
    // A check runs on the console alone: nothing is ever handed over to it.
    ui_.applyEnded();
    report_(local);
    status_ = kExitApplied;
    runEnded();
    return;
  }
  // The image is local: from here on nothing stops the apply.
  ui_.engineStarted();
  offMainThread([this, local] { effects_.runEngine(local); },
                [this, name = local.name] {
                  conclude({kExitApplied, QStringLiteral("Skin applied"),
                            QStringLiteral("Orvane is reopening with ") + name + u'.'});
                });
}

void AppDelegate::conclude(const Outcome& outcome) {
  if (state_ == RunState::busyAlert) {
    // The busy alert's own loop delivered this: the outcome is shown once that
    // alert has closed, never on top of it.
    waitingOutcome_ = outcome;
    enter(RunState::outcomeWaiting);
    return;
  }
  ui_.applyEnded();
  if (outcome.title.isEmpty()) {
    status_ = outcome.status;
    runEnded();
    return;
  }
  showFinal(outcome.status == kExitApplied ? AlertKind::notice : AlertKind::problem, outcome.title,
            outcome.message, outcome.status);
}

void AppDelegate::showFinal(AlertKind kind, const QString& title, const QString& message,
                            int status) {
  enter(RunState::finalAlert);
  status_ = status;
  ui_.showAlert(kind, title, message);
  runEnded();
}

void AppDelegate::runEnded() {
  if (!held_.empty()) {
    enter(RunState::idle);
    scheduleHeld();
    return;
  }
  enter(RunState::ended);
  QCoreApplication::exit(status_);
}

void AppDelegate::onMainThread(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

namespace {

QString outOfMemory() {
  return QStringLiteral("There is not enough memory to go on. Close some programs and try again.");
}

}  // namespace

void AppDelegate::offMainThread(std::function<void()> work, std::function<void()> next) {
  // Only one request is ever taken up per run, and its steps run one after
  // the other: the previous step posted its result as its last act.
  if (worker_.joinable()) worker_.join();
  try {
    startWorker(std::move(work), std::move(next));
  } catch (const std::system_error&) {
    // No thread could be made: the system is out of memory or of threads.
    reportFailure(outOfMemory());
  }
}

void AppDelegate::reportFailure(const QString& message) noexcept {
  // A check applies nothing, so its failure does not say so.
  const auto post = [this](const QString& text) {
    const QString title = mode_ == Mode::check ? QStringLiteral("Could not check skin")
                                               : QStringLiteral("Could not apply skin");
    onMainThread([this, title, text] { conclude({kExitFailed, title, text}); });
  };
  try {
    post(message);
    return;
  } catch (const std::bad_alloc&) {
  }
  // Memory ran out even for the alert: the reserve kept for this moment is
  // given back, and the alert says why.
  memoryReserve_.reset();
  try {
    post(outOfMemory());
    return;
  } catch (const std::bad_alloc&) {
  }
  static constexpr char kLastWords[] = "There is not enough memory to go on.\n";
  [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kLastWords, sizeof kLastWords - 1);
  std::_Exit(kExitFailed);
}

void AppDelegate::startWorker(std::function<void()> work, std::function<void()> next) {
  worker_ = std::thread([this, work = std::move(work), next = std::move(next)] {
    QString message;
    try {
      try {
        work();
        onMainThread(next);
        return;
      } catch (const DownloadCancelled&) {
        // The user stopped it: nothing more to say, and the engine never ran.
        onMainThread([this] { conclude({kExitCancelled, {}, {}}); });
        return;
      } catch (const Failure& error) {
        message = error.localizedDescription();
      } catch (const std::bad_alloc&) {
        message = outOfMemory();
      } catch (const std::exception& error) {
        message = QString::fromUtf8(error.what());
      }
    } catch (const std::bad_alloc&) {
      // Out of memory while handing a result or a failure on.
      message = outOfMemory();
    }
    reportFailure(message);
  });
}
