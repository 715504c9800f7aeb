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
#include <utility>

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

/// Where a run stands. Each input taken up is one run (read, asked, applied,
/// answered); inputs that arrive while an alert is open wait in a queue and
/// are taken up one after the other, so several runs may follow each other in
/// one process, which ends after the last with that run's status.
///
/// Every change of state goes through AppDelegate::enter(), which accepts only
/// the changes listed in kRunTransitions. "Held" is the queue of inputs waiting.
///
///   from            event                            to              side effect
///   starting        an input is taken up             asking          read it, ask (none in check)
///   starting        console input, nothing usable    finalAlert      usage alert; status 2
///   starting        ready check, nothing received    ready           ready alert; status 0
///   starting        ready check, nothing usable      ended           status 2, nothing shown
///   starting        ready check, inputs held         idle            take the first held up
///   ready           closed, nothing held             ended           status 0
///   ready           closed, inputs held              idle            take the first held up
///   idle            a held input is taken up         asking          as from starting
///   idle            nothing usable, none held        ended           status 2
///   asking          refused on reading               finalAlert      the refusal; status 1
///   asking          Cancel, nothing held             ended           take back; status 3
///   asking          Cancel, inputs held              idle            take back; status 3; next
///   asking          Apply skin (check: at once)      applying        download on the worker
///   applying        image local                      applying        the engine starts
///   applying        an input from outside            busyAlert       busy alert; not taken up
///   applying        engine done / a failure          finalAlert      applied 0 / could not 1
///   applying        cancelled, check reported        ended or idle   status 3 / 0, no alert
///   busyAlert       closed                           applying        next held: busyAlert again
///   busyAlert       the worker's outcome             outcomeWaiting  keep it for later
///   outcomeWaiting  closed, outcome with an alert    finalAlert      as from applying
///   outcomeWaiting  closed, outcome without          ended or idle   as from applying
///   finalAlert      closed, nothing held             ended           that run's status
///   finalAlert      closed, inputs held              idle            take the next held up
///
/// An input from outside joins the held ones in every state but ended (where
/// it is dropped, and a later launch takes this one's place): from starting
/// and idle it is taken up at the next turn of the event loop, in applying it
/// gets the busy alert, elsewhere it waits for the open alert to close. At
/// most one alert is open at a time:
/// ready, asking, busyAlert, outcomeWaiting and finalAlert each have one open,
/// and nothing else is shown until it closes. "Busy" is the answer only in
/// applying and busyAlert, while the download or the engine runs.
enum class RunState {
  starting,        ///< nothing taken up yet, the ready check not yet due
  ready,           ///< the ready alert is open
  idle,            ///< between runs: the next held input is about to be taken up
  asking,          ///< an input is being read, or its question is open
  applying,        ///< the download or the engine runs on the worker; no alert open
  busyAlert,       ///< as applying, with the busy answer to an input from outside open
  outcomeWaiting,  ///< the worker has ended while the busy alert is open; its outcome waits
  finalAlert,      ///< a run's last alert is open: a refusal, the result, a usage error
  ended,           ///< the application has been told to exit
};

struct RunTransition {
  RunState from;
  RunState to;
};

/// Every change of state a run may make; see RunState.
inline constexpr RunTransition kRunTransitions[] = {
    {RunState::starting, RunState::asking},
    {RunState::starting, RunState::finalAlert},
    {RunState::starting, RunState::ready},
    {RunState::starting, RunState::ended},
    {RunState::starting, RunState::idle},
    {RunState::ready, RunState::ended},
    {RunState::ready, RunState::idle},
    {RunState::idle, RunState::asking},
    {RunState::idle, RunState::ended},
    {RunState::asking, RunState::finalAlert},
    {RunState::asking, RunState::ended},
    {RunState::asking, RunState::idle},
    {RunState::asking, RunState::applying},
    {RunState::applying, RunState::busyAlert},
    {RunState::applying, RunState::finalAlert},
    {RunState::applying, RunState::ended},
    {RunState::applying, RunState::idle},
    {RunState::busyAlert, RunState::applying},
    {RunState::busyAlert, RunState::outcomeWaiting},
    {RunState::outcomeWaiting, RunState::finalAlert},
    {RunState::outcomeWaiting, RunState::ended},
    {RunState::outcomeWaiting, RunState::idle},
    {RunState::finalAlert, RunState::ended},
    {RunState::finalAlert, RunState::idle},
};

constexpr bool runTransitionAllowed(RunState from, RunState to) {
  for (const RunTransition& allowed : kRunTransitions) {
    if (allowed.from == from && allowed.to == to) return true;
  }
  return false;
}

/// The state's name, for messages.
const char* runStateName(RunState state);

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
  /// Its first link or file URL is taken up; the rest go with it.
  void openUrls(const QStringList& urls);
  /// One open event carrying file paths; only the first is handled.
  void openFiles(const QStringList& paths);
  /// Delivers `event` as the open event of its kind (nothing for Kind::none).
  /// An event that comes while an input is being asked about or applied, or
  /// an alert is open, is held as deliverWhenIdle() holds it.
  void open(const OpenEvent& event);
  /// An open event from outside the launch (another launch, the system):
  /// held, and taken up from the top-level event loop once no alert is open,
  /// never from inside one. While the download or the engine runs it is
  /// answered with the busy alert instead, one alert at a time.
  void deliverWhenIdle(const OpenEvent& event);

  /// The package of the launch's own open event, whose reading has begun
  /// while the application started; taken up by handlePackage() for that
  /// path (else dropped with the delegate, leaving nothing behind).
  void expectPackage(std::unique_ptr<PendingPackage> package) { expected_ = std::move(package); }

  /// Whether an open event has reached the delegate since launch: the ready
  /// check then ends a run that took nothing up instead of showing the ready
  /// alert. A fact about the launch, not a state of the run.
  bool receivedInput() const { return receivedInput_; }
  /// Whether the download or the engine is running: a later launch is then
  /// answered "busy".
  bool operationInFlight() const {
    return state_ == RunState::applying || state_ == RunState::busyAlert;
  }
  /// Whether the application has been told to exit.
  bool terminated() const { return state_ == RunState::ended; }
  RunState state() const { return state_; }

 signals:
  /// The run has entered `state` (emitted by enter()).
  void stateChanged(RunState state);

 private:
  /// How the worker's part of a run ended: the final alert to show (none for
  /// a cancelled download or a finished check) and the status.
  struct Outcome {
    int status;
    QString title;  ///< empty: no alert
    QString message;
  };

  /// The one place the state changes; a change not in kRunTransitions is a
  /// fault in the delegate and aborts.
  void enter(RunState next);
  void readyCheck();
  /// Takes `event` up: its first usable input starts a run.
  void takeUp(const OpenEvent& event);
  /// An open event held nothing usable: a console run ends now, saying so; a
  /// desktop run ends with status 2 once the ready check has come due, or
  /// once no other held input is left.
  void leftNothingToDo();
  /// Takes the next held input up when the state allows, from the top-level
  /// loop: as a run of its own in starting or idle, as a busy answer while
  /// applying; otherwise it waits for the open alert to close.
  void takeUpHeld();
  void scheduleHeld();
  /// The link flow: read, confirm, then download and apply in the background.
  void handleDeepLink(const QString& link);
  /// The package flow: read, confirm, then apply in the background.
  void handlePackage(const QString& path);
  /// Asks whether to apply `request`, coming from `source` (the image's host
  /// or the package's file name); true when the user agreed.
  bool confirmApply(const SkinRequest& request, const QString& source);
  /// One input's run: reads the request (a failure is shown under the
  /// input's refusal title), asks the user in apply mode, naming where the
  /// skin comes from (a refusal takes back what was made for the request),
  /// then makes the image local off the main thread.
  void runFlow(const FlowInput& input);
  /// Back on the main thread with the image local: check mode reports the
  /// request; apply mode runs the engine off the main thread.
  void imageIsLocal(const SkinRequest& local);
  /// The worker's part has ended with `outcome`: shown now, or once the busy
  /// alert that is open has closed.
  void conclude(const Outcome& outcome);
  /// Shows a run's last alert; then the next held input or the end.
  void showFinal(AlertKind kind, const QString& title, const QString& message, int status);
  /// The current run is over with status_: the next held input is taken up,
  /// or the application ends.
  void runEnded();
  /// Runs `work` on the worker thread, then `next` on the main thread; when
  /// `work` fails, the run concludes with "Could not apply skin" ("Could not
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
  RunState state_ = RunState::starting;
  /// The status the application ends with: the last run's.
  int status_ = kExitApplied;
  /// Inputs from outside waiting to be taken up, oldest first.
  std::deque<OpenEvent> held_;
  /// The worker's outcome while the busy alert is open (outcomeWaiting).
  std::optional<Outcome> waitingOutcome_;
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
