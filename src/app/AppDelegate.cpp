#include "app/AppDelegate.h"

#include <QCoreApplication>
#include <QTimer>

#include "app/BusyAlert.h"
#include "app/HelperError.h"
#include "engine/SkinEngine.h"
#include "link/DownloadCancel.h"
#include "link/HostPolicy.h"
#include "link/SkinLink.h"

AppDelegate::AppDelegate(FrontEnd& ui, Mode mode, RequestReport report,
                         QProcessEnvironment engineEnvironment)
    : ui_(ui),
      mode_(mode),
      report_(std::move(report)),
      engineEnvironment_(std::move(engineEnvironment)) {}

AppDelegate::~AppDelegate() {
  if (worker_.joinable()) worker_.join();
}

template <typename Show>
auto AppDelegate::inAlert(Show show) {
  ++alertsOpen_;
  struct Closing {
    AppDelegate& self;
    ~Closing() {
      if (--self.alertsOpen_ == 0 && !self.heldEvents_.empty()) {
        QMetaObject::invokeMethod(&self, &AppDelegate::deliverHeldEvents, Qt::QueuedConnection);
      }
    }
  } closing{*this};
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
  if (operationInFlight_ || terminated_) return;
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
    if (terminated_) return;
    const QString scheme = uriScheme(url).toLower();
    if (scheme == u"velmora") {
      routed = true;
      handleDeepLink(url);
    } else if (const QUrl parsed(url); parsed.isLocalFile()) {
      routed = true;
      handlePackage(parsed.toLocalFile());
    }
  }
  if (!routed && !terminated_) leftNothingToDo();
}

void AppDelegate::leftNothingToDo() {
  if (const std::optional<int> status = ui_.nothingToDo()) {
    terminate(*status);
  } else {
    endIfNothingTakenUp();
  }
}

void AppDelegate::endIfNothingTakenUp() {
  // A flow that took an input up is still asking (an alert is open) or
  // applying, or has ended the run itself; held events are routed next and
  // decide for themselves.
  if (!readyCheckDue_ || terminated_ || operationInFlight_ || alertsOpen_ > 0 ||
      !heldEvents_.empty()) {
    return;
  }
  terminate(kExitUsage);
}

void AppDelegate::open(const OpenEvent& event) {
  if (event.kind == OpenEvent::Kind::urls) openUrls(event.items);
  if (event.kind == OpenEvent::Kind::files) openFiles(event.items);
}

void AppDelegate::deliverWhenIdle(const OpenEvent& event, const QString& activationToken) {
  if (terminated_) return;
  heldEvents_.push_back(HandOver{event, activationToken});
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
  if (alertsOpen_ == 0) {
    QMetaObject::invokeMethod(this, &AppDelegate::deliverHeldEvents, Qt::QueuedConnection);
  }
}

void AppDelegate::deliverHeldEvents() {
  while (!heldEvents_.empty() && alertsOpen_ == 0 && !terminated_) {
    const HandOver next = heldEvents_.front();
    heldEvents_.pop_front();
    if (operationInFlight_) {
      // A skin opened from outside while another is being applied is not
      // taken up (no second engine run) but answered, never dropped silently.
      // The lent token is not used: the environment is not touched while
      // another thread may be reading it.
      inAlert([this] { showBusyAlert(ui_); });
      continue;
    }
    // The token is for the alert this event brings up.
    ui_.setActivationToken(next.activationToken);
    open(next.event);
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
  const ConfirmationDetails details{
      source, request.accent, request.secondary, request.highlight,
      request.image.isLocalFile() ? request.image.toLocalFile() : QString()};
  return inAlert([&] {
    return ui_.askToApply(
        QStringLiteral("Apply ") + request.name + QStringLiteral(" to Orvane?"),
        QStringLiteral(
            "Velmora Helper will use the local open-source engine and may restart Orvane."),
        details);
  });
}

std::optional<SkinRequest> AppDelegate::readAndConfirm(
    const QString& refusalTitle, const std::function<SkinRequest()>& read,
    const std::function<QString(const SkinRequest&)>& source,
    const std::function<void(const SkinRequest&)>& discard) {
  SkinRequest request;
  try {
    request = read();
  } catch (const Failure& error) {
    finish(refusalTitle, error.localizedDescription(), kExitFailed);
    return std::nullopt;
  }
  if (mode_ == Mode::apply && !confirmApply(request, source(request))) {
    if (discard) discard(request);
    terminate(kExitCancelled);
    return std::nullopt;
  }
  return request;
}

void AppDelegate::finish(const QString& title, const QString& message, int status) {
  ui_.applyEnded();
  const AlertKind kind = status == kExitApplied ? AlertKind::notice : AlertKind::problem;
  inAlert([&] { ui_.showAlert(kind, title, message); });
  operationInFlight_ = false;
  terminate(status);
}

void AppDelegate::terminate(int status) {
  terminated_ = true;
  QCoreApplication::exit(status);
}

void AppDelegate::onMainThread(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void AppDelegate::startApplying(const SkinRequest& request,
                                std::function<QUrl(const QUrl&)> localImage,
                                std::shared_ptr<DownloadCancel> cancel) {
  operationInFlight_ = true;
  std::function<bool()> cancelDownload;
  if (cancel) cancelDownload = [cancel] { return cancel->cancel(); };
  ui_.applyStarted(request.name, std::move(cancelDownload));
  // Only one request is ever taken up per run, so there is at most one worker.
  worker_ = std::thread([this, request, localImage = std::move(localImage)] {
    // A check applies nothing, so its failure does not say so.
    QString title = mode_ == Mode::check ? QStringLiteral("Could not check skin")
                                         : QStringLiteral("Could not apply skin");
    QString message;
    int status = kExitFailed;
    try {
      SkinRequest local = request;
      local.image = localImage(request.image);
      if (mode_ == Mode::check) {
        onMainThread([this, local] {
          ui_.applyEnded();
          operationInFlight_ = false;
          report_(local);
          terminate(kExitApplied);
        });
        return;
      }
      onMainThread([this] { ui_.engineStarted(); });
      applySkin(local.name, local.image, local.accent, local.secondary, local.highlight,
                engineEnvironment_);
      title = QStringLiteral("Skin applied");
      message = QStringLiteral("Orvane is reopening with ") + request.name + u'.';
      status = kExitApplied;
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
    } catch (const std::exception& error) {
      message = QString::fromUtf8(error.what());
    }
    onMainThread([this, title, message, status] { finish(title, message, status); });
  });
}
