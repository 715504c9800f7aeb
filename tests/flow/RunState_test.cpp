// The run's state machine, driven through the delegate with the fake front
// end: each scenario's path of states, its alerts and its status; together
// the scenarios go through every change of state the table allows.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QTimer>
#include <ostream>
#include <set>
#include <utility>

#include "flow/AppDelegate.h"
#include "support/FakeApplyEffects.h"
#include "support/FakeFrontEnd.h"
#include "support/RunDelegate.h"

// Names the states in failure messages.
void PrintTo(RunState state, std::ostream* out) {
  *out << runStateName(state);
}

namespace {

using S = RunState;

const QString kAurora =
    QStringLiteral("velmora://apply?image=https://velmora.app/a.png&name=Aurora");
const OpenEvent kBorealis{
    OpenEvent::Kind::urls,
    {QStringLiteral("velmora://apply?image=https://velmora.app/b.png&name=Borealis")}};
const OpenEvent kCygnus{
    OpenEvent::Kind::urls,
    {QStringLiteral("velmora://apply?image=https://velmora.app/c.png&name=Cygnus")}};
const OpenEvent kNothingToDo{OpenEvent::Kind::urls,
                             {QStringLiteral("https://velmora.app/skins/aurora.png")}};
const QString kRefused = QStringLiteral("velmora://apply?image=http://velmora.app/a.png");

const QString kReady = QStringLiteral("Velmora Helper is ready");
const QString kAskAurora = QStringLiteral("Apply Aurora to Orvane?");
const QString kAskBorealis = QStringLiteral("Apply Borealis to Orvane?");
const QString kAskCygnus = QStringLiteral("Apply Cygnus to Orvane?");
const QString kBusy = QStringLiteral("Velmora Helper is busy");
const QString kApplied = QStringLiteral("Skin applied");
const QString kInvalidLink = QStringLiteral("Invalid skin link");

/// Runs a nested event loop, as an open dialog does, until `done`.
void turnLoopUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(5);
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  if (!done()) loop.exec();
  EXPECT_TRUE(done()) << "timed out";
}

struct Scenario {
  const char* what;
  std::function<void(AppDelegate&)> start;
  std::deque<bool> answers;
  /// While the alert with this title is open (given the delegate).
  std::vector<std::pair<QString, std::function<void(AppDelegate&)>>> whileOpen;
  QList<RunState> path;
  QStringList shown;
  int status;
  /// Set up the front end's other hooks.
  std::function<void(FakeFrontEnd&, AppDelegate&)> hooks = {};
  AppDelegate::Arrival arrival = AppDelegate::Arrival::anyTime;
};

void launchWith(AppDelegate& delegate, const QStringList& urls) {
  delegate.applicationDidFinishLaunching(std::chrono::milliseconds(0));
  delegate.openUrls(urls);
}

const auto handOver = [](const OpenEvent& event) {
  return [event](AppDelegate& delegate) { delegate.deliverWhenIdle(event); };
};

/// Keeps the busy alert open until the worker has ended.
void untilTheWorkerHasEnded(AppDelegate& delegate) {
  turnLoopUntil([&] { return delegate.state() == S::outcomeWaiting; });
}

const auto cancelTheDownload = [](FakeFrontEnd& ui, AppDelegate&) {
  ui.onApplyStarted = [&ui] {
    ui.onApplyStarted = {};
    EXPECT_TRUE(ui.cancel && ui.cancel());
  };
};

TEST(RunState, EveryScenarioTakesItsPathAndTogetherTheyCoverTheTable) {
  const Scenario scenarios[] = {
      {"the ready alert",
       [](AppDelegate& d) { d.applicationDidFinishLaunching(std::chrono::milliseconds(0)); },
       {},
       {},
       {S::ready, S::ended},
       {kReady},
       kExitApplied},
      {"handed over during the ready alert, then cancelled",
       [](AppDelegate& d) { d.applicationDidFinishLaunching(std::chrono::milliseconds(0)); },
       {false},
       {{kReady, handOver(kBorealis)}},
       {S::ready, S::idle, S::asking, S::ended},
       {kReady, kAskBorealis},
       kExitCancelled},
      {"handed over during the ready alert, nothing usable",
       [](AppDelegate& d) { d.applicationDidFinishLaunching(std::chrono::milliseconds(0)); },
       {},
       {{kReady, handOver(kNothingToDo)}},
       {S::ready, S::idle, S::ended},
       {kReady},
       kExitUsage},
      {"handed over before the ready check, taken up after it",
       [](AppDelegate& d) {
         d.applicationDidFinishLaunching(std::chrono::milliseconds(0));
         d.deliverWhenIdle(kBorealis);
       },
       {false},
       {},
       {S::idle, S::asking, S::ended},
       {kAskBorealis},
       kExitCancelled},
      {"nothing usable: ends silently at the ready check",
       [](AppDelegate& d) { launchWith(d, kNothingToDo.items); },
       {},
       {},
       {S::ended},
       {},
       kExitUsage},
      {"nothing usable on the console",
       [](AppDelegate& d) { d.openUrls(kNothingToDo.items); },
       {},
       {},
       {S::finalAlert, S::ended},
       {QString()},
       kExitUsage,
       {},
       AppDelegate::Arrival::atLaunchOnly},
      {"refused",
       [](AppDelegate& d) { launchWith(d, {kRefused}); },
       {},
       {},
       {S::asking, S::finalAlert, S::ended},
       {kInvalidLink},
       kExitFailed},
      {"cancelled",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {false},
       {},
       {S::asking, S::ended},
       {kAskAurora},
       kExitCancelled},
      {"applied",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true},
       {},
       {S::asking, S::applying, S::finalAlert, S::ended},
       {kAskAurora, kApplied},
       kExitApplied},
      {"download cancelled",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true},
       {},
       {S::asking, S::applying, S::ended},
       {kAskAurora},
       kExitCancelled,
       cancelTheDownload},
      {"held during the question, Cancel: the second is asked and applied",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {false, true},
       {{kAskAurora, handOver(kBorealis)}},
       {S::asking, S::idle, S::asking, S::applying, S::finalAlert, S::ended},
       {kAskAurora, kAskBorealis, kApplied},
       kExitApplied},
      {"held during a refusal: asked after it, the last run's status",
       [](AppDelegate& d) { launchWith(d, {kRefused}); },
       {false},
       {{kInvalidLink, handOver(kBorealis)}},
       {S::asking, S::finalAlert, S::idle, S::asking, S::ended},
       {kInvalidLink, kAskBorealis},
       kExitCancelled},
      {"held during \"Skin applied\": asked after it, not answered busy",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true, false},
       {{kApplied, handOver(kBorealis)}},
       {S::asking, S::applying, S::finalAlert, S::idle, S::asking, S::ended},
       {kAskAurora, kApplied, kAskBorealis},
       kExitCancelled},
      {"two held during the question, first applied: one busy alert each",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true},
       {{kAskAurora,
         [](AppDelegate& d) {
           d.deliverWhenIdle(kBorealis);
           d.deliverWhenIdle(kCygnus);
         }}},
       {S::asking, S::applying, S::busyAlert, S::applying, S::busyAlert, S::applying, S::finalAlert,
        S::ended},
       {kAskAurora, kBusy, kBusy, kApplied},
       kExitApplied},
      {"the apply ends while the busy alert is open: its result comes after it",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true},
       {{kAskAurora, handOver(kBorealis)}, {kBusy, untilTheWorkerHasEnded}},
       {S::asking, S::applying, S::busyAlert, S::outcomeWaiting, S::finalAlert, S::ended},
       {kAskAurora, kBusy, kApplied},
       kExitApplied},
      {"cancelled while the busy alert is open, then nothing held",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true},
       {{kAskAurora, handOver(kBorealis)}, {kBusy, untilTheWorkerHasEnded}},
       {S::asking, S::applying, S::busyAlert, S::outcomeWaiting, S::ended},
       {kAskAurora, kBusy},
       kExitCancelled,
       cancelTheDownload},
      {"cancelled while the busy alert is open, one handed over after: asked",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true, false},
       {{kAskAurora, handOver(kBorealis)},
        {kBusy,
         [](AppDelegate& d) {
           untilTheWorkerHasEnded(d);
           // The download has ended: no longer busy, so held and asked.
           EXPECT_FALSE(d.operationInFlight());
           d.deliverWhenIdle(kCygnus);
         }}},
       {S::asking, S::applying, S::busyAlert, S::outcomeWaiting, S::idle, S::asking, S::ended},
       {kAskAurora, kBusy, kAskCygnus},
       kExitCancelled,
       cancelTheDownload},
      {"handed over just as the download is cancelled: asked",
       [](AppDelegate& d) { launchWith(d, {kAurora}); },
       {true, false},
       {},
       {S::asking, S::applying, S::idle, S::asking, S::ended},
       {kAskAurora, kAskBorealis},
       kExitCancelled,
       [](FakeFrontEnd& ui, AppDelegate& d) {
         cancelTheDownload(ui, d);
         ui.onApplyEnded = [&ui, &d] {
           ui.onApplyEnded = {};
           d.deliverWhenIdle(kBorealis);
         };
       }},
  };
  std::set<std::pair<S, S>> taken;
  for (const Scenario& c : scenarios) {
    SCOPED_TRACE(c.what);
    FakeFrontEnd ui;
    ui.answers = c.answers;
    FakeApplyEffects effects;
    AppDelegate delegate(ui, effects, AppDelegate::Mode::apply, {}, c.arrival);
    auto whileOpen = c.whileOpen;
    ui.whileOpen = [&](const QString& title) {
      if (!whileOpen.empty() && whileOpen.front().first == title) {
        auto run = std::move(whileOpen.front().second);
        whileOpen.erase(whileOpen.begin());
        run(delegate);
      }
    };
    if (c.hooks) c.hooks(ui, delegate);
    QList<RunState> path;
    RunState from = delegate.state();
    QObject::connect(&delegate, &AppDelegate::stateChanged, [&](RunState to) {
      path.append(to);
      taken.insert({from, to});
      from = to;
    });
    EXPECT_EQ(runDelegate(delegate, [&] { c.start(delegate); }), c.status);
    EXPECT_EQ(path, c.path);
    QStringList titles;
    for (const auto& shown : ui.shown) titles.append(shown.title);
    EXPECT_EQ(titles.join(" | ").toStdString(), c.shown.join(" | ").toStdString());
    EXPECT_TRUE(whileOpen.empty()) << "an alert expected open never was";
    // Never a second engine run, and none for a cancelled or refused skin.
    EXPECT_LE(effects.engineRuns.size(), 1u);
  }
  for (const RunTransition& t : kRunTransitions) {
    EXPECT_TRUE(taken.count({t.from, t.to}))
        << "not exercised: " << runStateName(t.from) << " -> " << runStateName(t.to);
  }
  EXPECT_EQ(taken.size(), std::size(kRunTransitions));
}

TEST(RunState, BusyOnlyWhileTheDownloadOrTheEngineRuns) {
  // What a later launch would be answered at each moment of one apply.
  FakeFrontEnd ui;
  ui.answers = {true};
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  QStringList busyWhen;
  const auto note = [&](const QString& moment) {
    if (delegate.operationInFlight()) busyWhen.append(moment);
  };
  ui.whileOpen = [&](const QString& title) { note(title); };
  ui.onApplyStarted = [&] { note(QStringLiteral("download")); };
  ui.onEngineStarted = [&] { note(QStringLiteral("engine")); };
  EXPECT_EQ(runDelegate(delegate, [&] { launchWith(delegate, {kAurora}); }), kExitApplied);
  EXPECT_EQ(busyWhen.join(' ').toStdString(), "download engine");
}

}  // namespace
