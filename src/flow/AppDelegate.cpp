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

template <typename Show>
auto AppDelegate::inAlert(Show show) {
  struct Closing {
    AppDelegate& self;
    Phase before;
    ~Closing() {
      if (self.phase_ == Phase::alertOpen) self.phase_ = before;
      if (self.phase_ == Phase::running && !self.heldEvents_.empty()) {
        QMetaObject::invokeMethod(&self, &AppDelegate::deliverHeldEvents, Qt::QueuedConnection);
      }
    }
  } closing{*this, phase_};
  phase_ = Phase::alertOpen;
  return show();
}

void AppDelegate::applicationDidFinishLaunching(std::chrono::milliseconds readyCheckDelay) {
  // The delegate is the timer's context object: if it is gone, the check never runs.
  QTimer::singleShot(readyCheckDelay, this, &AppDelegate::readyCheck);
}

void AppDelegate::readyCheck() {
  readyCheckDue_ = true;
  if (receivedInput_) {
    endIfNothingTakenUp();
    return;
  }
  if (operationInFlight_ || phase_ == Phase::ended) return;
  inAlert([this] {
    ui_.showAlert(AlertKind::notice, QStringLiteral("Velmora Helper is ready"),
                  QStringLiteral("Choose a skin on ") + skinSiteDomain() +
                      QStringLiteral(" and click Apply to Orvane."));
  });
  // Another launch handed its inputs over while the ready alert was open. Nothing
  // has been taken up in this run, so they are taken up now rather than lost
  // when the application ends.
  if (!heldEvents_.empty()) return;
  terminate(kExitApplied);
}

void AppDelegate::openUrls(const QStringList& urls) {
  receivedInput_ = true;
  bool routed = false;
  for (const QString& url : urls) {
    // A flow that ended the application (refusal, cancel) ends the event too.
    if (phase_ == Phase::ended) return;
    const QString scheme = uriScheme(url).toLower();
    if (scheme == u"velmora") {
      routed = true;
      handleDeepLink(url);
    } else if (const QUrl parsed(url); parsed.isLocalFile()) {
      routed = true;
      handlePackage(pathOfFileUrl(url));
    }
  }
  if (!routed && phase_ != Phase::ended) leftNothingToDo();
}

void AppDelegate::leftNothingToDo() {
  if (arrival_ == Arrival::anyTime) {
    endIfNothingTakenUp();
    return;
  }
  // Nothing else can come: the run ends now, saying what it needs.
  inAlert([this] {
    ui_.showAlert(AlertKind::usage, {},
                  QStringLiteral("nothing to do: give a velmora:// link or a .velmora file"));
  });
  terminate(kExitUsage);
}

void AppDelegate::endIfNothingTakenUp() {
  // A flow that took an input up is still asking (an alert is open) or
  // applying, or has ended the run itself; held events are routed next and
  // decide for themselves.
  if (!readyCheckDue_ || phase_ != Phase::running || operationInFlight_ || !heldEvents_.empty()) {
    return;
  }
  terminate(kExitUsage);
}

void AppDelegate::open(const OpenEvent& event) {
  if (event.kind == OpenEvent::Kind::urls) openUrls(event.items);
  if (event.kind == OpenEvent::Kind::files) openFiles(event.items);
}

void AppDelegate::deliverWhenIdle(const OpenEvent& event) {
  if (phase_ == Phase::ended) return;
  heldEvents_.push_back(event);
  // This runs in whichever event loop is turning. While an alert is open that
  // is the alert's own nested loop (QMessageBox::exec keeps delivering socket
  // and system events). Routing the event from here would start a second flow
  // inside the first one's question: a second confirmation on top of the
  // first, and if the inner one were confirmed it would start its apply (and
  // set operationInFlight) before the outer one returned, whose "Apply skin"
  // would then start a second engine run. So the event waits until the last
  // alert has closed and is routed from the top-level loop, where the first
  // flow's outcome is settled: an apply under way (the event is ignored) or
  // the application ended (the event is dropped with it).
  if (phase_ == Phase::running) {
    QMetaObject::invokeMethod(this, &AppDelegate::deliverHeldEvents, Qt::QueuedConnection);
  }
}

void AppDelegate::deliverHeldEvents() {
  while (!heldEvents_.empty() && phase_ == Phase::running) {
    const OpenEvent next = heldEvents_.front();
    heldEvents_.pop_front();
    if (operationInFlight_) {
      // A skin opened from outside while another is being applied is not
      // taken up (no second engine run) but answered, never dropped silently.
      inAlert([this] { showBusyAlert(ui_); });
      continue;
    }
    open(next);
  }
}

void AppDelegate::openFiles(const QStringList& paths) {
  receivedInput_ = true;
  if (paths.isEmpty()) {
    leftNothingToDo();
    return;
  }
  handlePackage(paths.first());
}

bool AppDelegate::confirmApply(const SkinRequest& request, const QString& source) {
  // A package's image is already on disk and can be shown; a link's is not
  // fetched before the user agrees.
  const ConfirmationDetails details{source, request.accent, request.secondary, request.highlight,
                                    thumbnail_.get()};
  return inAlert([&] {
    return ui_.askToApply(
        QStringLiteral("Apply ") + request.name + QStringLiteral(" to Orvane?"),
        QStringLiteral(
            "Velmora Helper will use the local open-source engine and may restart Orvane."),
        details);
  });
}

void AppDelegate::handleDeepLink(const QString& link) {
  runFlow(linkInput(link));
}

void AppDelegate::handlePackage(const QString& path) {
  runFlow(packageInput(path, expected_, thumbnail_));
}

void AppDelegate::runFlow(const FlowInput& input) {
  if (operationInFlight_) return;
  SkinRequest request;
  try {
    request = input.read();
  } catch (const Failure& error) {
    finish(input.refusalTitle, error.localizedDescription(), kExitFailed);
    return;
  }
  const bool confirmed = mode_ == Mode::check || confirmApply(request, input.source(request));
  // Whatever the answer, the package's reader stops now: before anything
  // removes or uses what it extracted, and without waiting for a thumbnail.
  thumbnail_.reset();
  if (!confirmed) {
    if (input.discard) input.discard(request);
    terminate(kExitCancelled);
    return;
  }
  operationInFlight_ = true;
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
    ui_.applyEnded();
    operationInFlight_ = false;
    report_(local);
    terminate(kExitApplied);
    return;
  }
  // The image is local: from here on nothing stops the apply.
  ui_.engineStarted();
  offMainThread([this, local] { effects_.runEngine(local); },
                [this, name = local.name] {
                  finish(QStringLiteral("Skin applied"),
                         QStringLiteral("Orvane is reopening with ") + name + u'.', kExitApplied);
                });
}

void AppDelegate::finish(const QString& title, const QString& message, int status) {
  ui_.applyEnded();
  const AlertKind kind = status == kExitApplied ? AlertKind::notice : AlertKind::problem;
  inAlert([&] { ui_.showAlert(kind, title, message); });
  operationInFlight_ = false;
  terminate(status);
}

void AppDelegate::terminate(int status) {
  phase_ = Phase::ended;
  QCoreApplication::exit(status);
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
    onMainThread([this, title, text] { finish(title, text, kExitFailed); });
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
        onMainThread([this] {
          ui_.applyEnded();
          operationInFlight_ = false;
          terminate(kExitCancelled);
        });
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
