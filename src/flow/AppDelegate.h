#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "flow/ApplyEffects.h"
#include "flow/CommandLine.h"
#include "flow/ExitStatus.h"
#include "flow/FlowInput.h"
#include "flow/FrontEnd.h"
#include "package/PackageReader.h"
#include "package/PackageThumbnail.h"
#include "request/SkinRequest.h"

class DownloadCancel;

/// How long after launch the ready check runs: time for the system to
/// deliver the open event that started the helper.
inline constexpr std::chrono::milliseconds kReadyCheckDelay{800};

/// The helper's one stateful object: it receives the open events, routes
/// them to the link and package flows, and ends the application. Lives on the
/// main thread for the whole run; its state is touched only there. What it
/// shows goes through a FrontEnd, and the download and the engine run through
/// ApplyEffects, so the flows run alike with fakes.
class AppDelegate final : public QObject {
  Q_OBJECT

 public:
  enum class Mode {
    apply,  ///< confirm, run the engine, report
    check,  ///< run every check (and the download), then hand the request to `report`
  };
  using RequestReport = std::function<void(const SkinRequest&)>;

  /// When open events can reach the run.
  enum class Arrival {
    anyTime,       ///< a desktop run: the system or a later launch may deliver one at any time
    atLaunchOnly,  ///< a console run: the launch's own inputs are all there will be
  };

  /// Shows everything through `ui` and applies through `effects` (both must
  /// outlive the delegate); in check mode hands finished requests to `report`.
  /// An open event that leaves nothing to do ends an `atLaunchOnly` run at
  /// once with kExitUsage; an `anyTime` run ends so, silently, once the ready
  /// check has come due and nothing else was taken up.
  AppDelegate(FrontEnd& ui, ApplyEffects& effects, Mode mode = Mode::apply,
              RequestReport report = {}, Arrival arrival = Arrival::anyTime);
  /// Waits for a worker that is still posting its result.
  ~AppDelegate() override;

  /// Launch: schedules the ready check `readyCheckDelay` from now (0 where no
  /// open event can ever arrive, as on a console run without inputs).
  void applicationDidFinishLaunching(std::chrono::milliseconds readyCheckDelay = kReadyCheckDelay);
  /// One open event carrying URLs: velmora links, file URLs, anything else.
  void openUrls(const QStringList& urls);
  /// One open event carrying file paths; only the first is handled.
  void openFiles(const QStringList& paths);
  /// Delivers `event` as the open event of its kind (nothing for Kind::none).
  void open(const OpenEvent& event);
  /// An open event from outside the launch (another launch, the system): routed
  /// from the top-level event loop once no alert is open, never from inside one.
  void deliverWhenIdle(const OpenEvent& event);

  /// The link flow: read, confirm, then download and apply in the background.
  void handleDeepLink(const QString& link);
  /// The package flow: read, confirm, then apply in the background.
  void handlePackage(const QString& path);

  /// Asks whether to apply `request`, coming from `source` (the image's host
  /// or the package's file name); true when the user agreed.
  bool confirmApply(const SkinRequest& request, const QString& source);
  /// Shows the final alert, clears operationInFlight and ends the application with `status`.
  void finish(const QString& title, const QString& message, int status);

  /// The package of the launch's own open event, whose reading has begun
  /// while the application started; taken up by handlePackage() for that
  /// path (else dropped with the delegate, leaving nothing behind).
  void expectPackage(std::unique_ptr<PendingPackage> package) { expected_ = std::move(package); }

  bool receivedInput() const { return receivedInput_; }
  bool operationInFlight() const { return operationInFlight_; }
  /// Whether a flow or the ready check has ended the application.
  bool terminated() const { return phase_ == Phase::ended; }

 private:
  /// Where the run stands, apart from the two flags.
  enum class Phase {
    running,    ///< open events are routed as they come
    alertOpen,  ///< an alert or the question is open: events from outside wait
    ended,      ///< a flow or the ready check has ended the application
  };

  void readyCheck();
  /// An open event held nothing usable: a console run ends now, a desktop run
  /// once the ready check has come due if nothing was taken up by then.
  void leftNothingToDo();
  /// Ends a run that has taken nothing up once the ready check has come due,
  /// so that no process is left running without a window for anyone to close.
  void endIfNothingTakenUp();
  void terminate(int status);
  /// Shows an alert or the confirmation through `show` in the alertOpen phase.
  template <typename Show>
  auto inAlert(Show show);
  /// Routes the events held back while an alert was open.
  void deliverHeldEvents();
  /// The flow of both inputs: reads the request (a failure is shown under
  /// the input's refusal title and ends the application), asks the user in
  /// apply mode, naming where the skin comes from (a refusal ends it too,
  /// after what was made for the request is taken back), then makes the
  /// image local off the main thread; a download the user cancels ends the
  /// run with kExitCancelled and no alert.
  void runFlow(const FlowInput& input);
  /// Back on the main thread with the image local: check mode reports the
  /// request and ends; apply mode runs the engine off the main thread, then
  /// shows "Skin applied".
  void imageIsLocal(const SkinRequest& local);
  /// Runs `work` on the worker thread, then `next` on the main thread; when
  /// `work` fails, the run finishes with "Could not apply skin" ("Could not
  /// check skin" in check mode) instead.
  void offMainThread(std::function<void()> work, std::function<void()> next);
  /// Starts the worker thread for offMainThread(); throws std::system_error.
  void startWorker(std::function<void()> work, std::function<void()> next);
  /// Ends the flow with the failure alert saying `message`; from any thread.
  /// Out of memory even for that, it says so, and as the last resort writes
  /// it to standard error and exits with status 1.
  void reportFailure(const QString& message) noexcept;
  /// Calls `work` on the main thread, from any thread.
  void onMainThread(std::function<void()> work);

  FrontEnd& ui_;
  ApplyEffects& effects_;
  const Mode mode_;
  RequestReport report_;
  const Arrival arrival_;
  bool receivedInput_ = false;
  bool operationInFlight_ = false;
  Phase phase_ = Phase::running;
  /// The ready check's moment has come: from then on a run that has taken
  /// nothing up ends.
  bool readyCheckDue_ = false;
  std::deque<OpenEvent> heldEvents_;
  std::thread worker_;
  /// The confined reader of the package being asked about, waiting to decode
  /// its thumbnail; stopped as soon as the question is answered.
  std::unique_ptr<PackageThumbnail> thumbnail_;
  /// See expectPackage().
  std::unique_ptr<PendingPackage> expected_;
  /// Address space held back so that a run out of memory can still show its
  /// alert: given back when an allocation for the alert fails. Never
  /// touched, so it takes no memory of its own.
  std::unique_ptr<char[]> memoryReserve_{new (std::nothrow) char[4 << 20]};
  /// Lets the user stop a link's download; set before the worker starts.
  std::shared_ptr<DownloadCancel> downloadCancel_;
};
