#pragma once
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "app/CommandLine.h"
#include "app/FrontEnd.h"
#include "app/HandOver.h"
#include "request/SkinRequest.h"

class DownloadCancel;

/// Exit statuses of the helper, whichever front end is showing.
enum ExitStatus : int {
  kExitApplied = 0,    ///< "Skin applied", or the ready alert
  kExitFailed = 1,     ///< a refusal, "Could not apply skin", a failed check, or busy
  kExitUsage = 2,      ///< a usage error, or (console) nothing to do
  kExitCancelled = 3,  ///< the user cancelled the confirmation or the download
};

/// How long after launch the ready check runs: time for the system to
/// deliver the open event that started the helper.
inline constexpr std::chrono::milliseconds kReadyCheckDelay{800};

/// The helper's one stateful object: it receives the open events, routes
/// them to the link and package flows, and ends the application. Lives on the
/// main thread for the whole run; its flags are touched only there.
class AppDelegate final : public QObject {
  Q_OBJECT

 public:
  enum class Mode {
    apply,  ///< confirm, run the engine, report
    check,  ///< run every check (and the download), then hand the request to `report`
  };
  using RequestReport = std::function<void(const SkinRequest&)>;

  /// Shows everything through `ui`; in check mode hands finished requests to
  /// `report`. The engine is found through and started with `engineEnvironment`.
  explicit AppDelegate(
      FrontEnd& ui, Mode mode = Mode::apply, RequestReport report = {},
      QProcessEnvironment engineEnvironment = QProcessEnvironment::systemEnvironment());
  /// Waits for a worker that is still posting its result.
  ~AppDelegate() override;

  /// Launch: schedules the ready check `readyCheckDelay` from now (none where
  /// no open event can ever arrive, as on the console).
  void applicationDidFinishLaunching(std::chrono::milliseconds readyCheckDelay = kReadyCheckDelay);
  /// One open event carrying URLs: velmora links, file URLs, anything else.
  void openUrls(const QStringList& urls);
  /// One open event carrying file paths; only the first is handled.
  void openFiles(const QStringList& paths);
  /// Delivers `event` as the open event of its kind (nothing for Kind::none).
  void open(const OpenEvent& event);
  /// An open event from outside the launch (another launch, the system): routed
  /// from the top-level event loop once no alert is open, never from inside one;
  /// answered with the busy alert if an apply is under way by then.
  /// `activationToken`, lent by the launch that sent it, lets the alert that
  /// the event brings up come to the front.
  void deliverWhenIdle(const OpenEvent& event, const QString& activationToken = {});

  /// The link flow: read, confirm, then download and apply in the background.
  void handleDeepLink(const QString& link);
  /// The package flow: read, confirm, then apply in the background.
  void handlePackage(const QString& path);

  /// Asks whether to apply `request`, coming from `source` (the image's host
  /// or the package's file name); true when the user agreed.
  bool confirmApply(const SkinRequest& request, const QString& source);
  /// Shows the final alert, clears operationInFlight and ends the application with `status`.
  void finish(const QString& title, const QString& message, int status);

  bool receivedInput() const { return receivedInput_; }
  bool operationInFlight() const { return operationInFlight_; }
  /// Whether a flow or the ready check has ended the application.
  bool terminated() const { return terminated_; }

 private:
  void readyCheck();
  /// An open event held nothing usable: the front end ends the run now, or it
  /// ends once the ready check has come due if nothing was taken up by then.
  void leftNothingToDo();
  /// Ends a run that has taken nothing up once the ready check has come due,
  /// so that no process is left running without a window for anyone to close.
  void endIfNothingTakenUp();
  void terminate(int status);
  /// Shows an alert or the confirmation through `show`, counted in alertsOpen_.
  template <typename Show>
  auto inAlert(Show show);
  /// Routes the events held back while an alert was open.
  void deliverHeldEvents();
  /// Reads a request with `read`; a failure is shown under `refusalTitle` and
  /// ends the application. In apply mode asks the user, naming where the skin
  /// comes from with `source`; a refusal ends it too, after `discard` has
  /// taken back what was made for the request. Returns the request only when
  /// the flow goes on.
  std::optional<SkinRequest> readAndConfirm(
      const QString& refusalTitle, const std::function<SkinRequest()>& read,
      const std::function<QString(const SkinRequest&)>& source,
      const std::function<void(const SkinRequest&)>& discard = {});
  /// After confirmation: prepares the image (download or as is) and runs the
  /// engine on a worker thread, then finishes on the main thread. A download
  /// that `cancel` stops ends the run with kExitCancelled and no alert.
  void startApplying(const SkinRequest& request, std::function<QUrl(const QUrl&)> localImage,
                     std::shared_ptr<DownloadCancel> cancel = nullptr);
  /// Calls `work` on the main thread, from any thread.
  void onMainThread(std::function<void()> work);

  FrontEnd& ui_;
  Mode mode_;
  RequestReport report_;
  const QProcessEnvironment engineEnvironment_;  ///< read-only, also on the worker
  bool receivedInput_ = false;
  bool operationInFlight_ = false;
  bool terminated_ = false;
  bool readyCheckDue_ = false;
  int alertsOpen_ = 0;
  std::deque<HandOver> heldEvents_;
  std::thread worker_;
};
