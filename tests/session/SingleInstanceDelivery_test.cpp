// Inputs handed over by later launches (and the system's file-open events)
// reach the routing only from the top-level event loop, never from inside an
// open alert.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>

#include "flow/AppDelegate.h"
#include "session/FileOpenRouter.h"
#include "support/FakeApplyEffects.h"
#include "support/RunDelegate.h"
#include "support/TestPackages.h"

namespace {

/// Records what is shown; while an alert or the question is open it runs
/// `whileOpen` and then turns the event loop, as a modal dialog's own loop
/// would, so events that arrive meanwhile get their chance to be delivered.
class NestingFrontEnd final : public FrontEnd {
 public:
  void showAlert(AlertKind, const QString& title, const QString&) override { open(title); }
  bool askToApply(const QString& title, const QString&, const ConfirmationDetails&) override {
    open(title);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void applyStarted(const QString&, std::function<bool()>) override {}
  void downloadProgress(qint64, qint64) override {}
  void engineStarted() override {}
  void applyEnded() override {}

  std::deque<bool> answers;
  std::function<void()> whileOpen;
  QStringList shown;
  int depth = 0;
  int deepest = 0;

 private:
  void open(const QString& title) {
    shown.append(title);
    deepest = std::max(deepest, ++depth);
    if (auto run = std::exchange(whileOpen, {})) run();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    --depth;
  }
};

const QString kLink = QStringLiteral("velmora://apply?image=https://velmora.app/a.png&name=First");
const OpenEvent kSecond{
    OpenEvent::Kind::urls,
    {QStringLiteral("velmora://apply?image=https://velmora.app/b.png&name=Second")}};
const OpenEvent kRefused{OpenEvent::Kind::urls,
                         {QStringLiteral("velmora://apply?image=http://velmora.app/b.png")}};
const OpenEvent kNothingToDo{OpenEvent::Kind::urls,
                             {QStringLiteral("https://velmora.app/skins/aurora.png")}};

TEST(HandedOverEvents, ArrivingDuringTheQuestionAreAskedAboutOnceTheUserCancels) {
  NestingFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  ui.whileOpen = [&] { delegate.deliverWhenIdle(kSecond); };
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink}); }), kExitCancelled);
  EXPECT_EQ(ui.shown, (QStringList{QStringLiteral("Apply First to Orvane?"),
                                   QStringLiteral("Apply Second to Orvane?")}));
  EXPECT_EQ(ui.deepest, 1);
}

TEST(HandedOverEvents, ArrivingDuringTheQuestionAreAnsweredBusyOnceTheApplyIsUnderWay) {
  // The first link is confirmed; its image cannot be had, so the run ends
  // with "Could not apply skin". The second is answered, never asked about.
  NestingFrontEnd ui;
  ui.answers = {true, true};
  FakeApplyEffects effects;
  effects.imageFailure = QStringLiteral("Host velmora.app not found");
  effects.imageTakes = std::chrono::milliseconds(500);  // the busy answer comes first
  AppDelegate delegate(ui, effects);
  ui.whileOpen = [&] { delegate.deliverWhenIdle(kSecond); };
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink}); }), kExitFailed);
  EXPECT_EQ(ui.shown, (QStringList{QStringLiteral("Apply First to Orvane?"),
                                   QStringLiteral("Velmora Helper is busy"),
                                   QStringLiteral("Could not apply skin")}));
  EXPECT_EQ(ui.deepest, 1);
}

TEST(HandedOverEvents, ArrivingDuringTheReadyAlertAreTakenUpAfterIt) {
  const struct {
    OpenEvent event;
    QStringList shown;
    int status;
  } cases[] = {
      {kRefused,
       {QStringLiteral("Velmora Helper is ready"), QStringLiteral("Invalid skin link")},
       kExitFailed},
      {kNothingToDo, {QStringLiteral("Velmora Helper is ready")}, kExitUsage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.event.items.join(u' ').toStdString());
    NestingFrontEnd ui;
    FakeApplyEffects effects;
    AppDelegate delegate(ui, effects);
    ui.whileOpen = [&] { delegate.deliverWhenIdle(c.event); };
    EXPECT_EQ(runDelegate(delegate, [&] { delegate.applicationDidFinishLaunching(); }), c.status);
    EXPECT_EQ(ui.shown, c.shown);
    EXPECT_EQ(ui.deepest, 1);
  }
}

/// A package to apply, in a directory of its own.
struct PackageToApply {
  QTemporaryDir directory;
  QString package = directory.filePath(QStringLiteral("Aurora.velmora"));

  PackageToApply() {
    testing_support::writePackage(
        package, R"({"schemaVersion": 1, "name": "Aurora", "image": "bg.png"})",
        {{"bg.png", QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(256, '\0')}});
  }
};

TEST(HandedOverEvents, ARunWithNothingToDoTakesThemUpUntilTheReadyCheck) {
  // The launch's own event holds nothing usable; a later launch hands over
  // its input before the ready check. The run ends with 2 when the ready
  // check comes due unless that input was taken up: its question still open
  // then, or its apply under way.
  PackageToApply aurora;
  constexpr std::chrono::milliseconds kReadyDelay{150};
  bool readyCheckDue = false;
  // Keeps the question open until the ready check has come due.
  const auto holdOpen = [&] {
    while (!readyCheckDue) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  };
  const struct {
    const char* what;
    OpenEvent event;
    std::deque<bool> answers;
    std::function<void()> whileOpen;
    QStringList shown;
    int status;
  } cases[] = {
      {"refused", kRefused, {}, {}, {QStringLiteral("Invalid skin link")}, kExitFailed},
      {"question open at the ready check",
       kSecond,
       {false},
       holdOpen,
       {QStringLiteral("Apply Second to Orvane?")},
       kExitCancelled},
      {"applying at the ready check",
       OpenEvent{OpenEvent::Kind::files, {aurora.package}},
       {true},
       {},
       {QStringLiteral("Apply Aurora to Orvane?"), QStringLiteral("Skin applied")},
       kExitApplied},
      {"nothing to do either", kNothingToDo, {}, {}, {}, kExitUsage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NestingFrontEnd ui;
    ui.answers = c.answers;
    ui.whileOpen = c.whileOpen;
    FakeApplyEffects effects;
    effects.engineTakes = 3 * kReadyDelay;  // still running when the ready check comes due
    AppDelegate delegate(ui, effects);
    readyCheckDue = false;
    EXPECT_EQ(runDelegate(delegate,
                          [&] {
                            delegate.applicationDidFinishLaunching(kReadyDelay);
                            // Due no earlier than the delegate's own, started just before.
                            QTimer::singleShot(kReadyDelay, &delegate,
                                               [&] { readyCheckDue = true; });
                            delegate.openUrls(kNothingToDo.items);
                            QTimer::singleShot(kReadyDelay / 5, &delegate,
                                               [&] { delegate.deliverWhenIdle(c.event); });
                          }),
              c.status);
    EXPECT_EQ(ui.shown, c.shown);
  }
}

TEST(FileOpenRouter, UrlAndFileEventsReachTheRoutingAsOneUrlEach) {
  const struct {
    const char* what;
    std::function<QFileOpenEvent*()> event;
    QString alert;
  } cases[] = {
      {"velmora link",
       [] { return new QFileOpenEvent(QUrl(QStringLiteral("VELMORA://apply?image=x"))); },
       QStringLiteral("Invalid skin link")},
      {"file", [] { return new QFileOpenEvent(QStringLiteral("/nonexistent/notes.txt")); },
       QStringLiteral("Invalid Orvane skin")},
      {"file URL",
       [] { return new QFileOpenEvent(QUrl(QStringLiteral("file:///nonexistent/a.zip"))); },
       QStringLiteral("Invalid Orvane skin")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NestingFrontEnd ui;
    FakeApplyEffects effects;
    AppDelegate delegate(ui, effects);
    FileOpenRouter router(delegate);
    QCoreApplication::instance()->installEventFilter(&router);
    EXPECT_EQ(
        runDelegate(delegate,
                    [&] { QCoreApplication::postEvent(QCoreApplication::instance(), c.event()); }),
        kExitFailed);
    QCoreApplication::instance()->removeEventFilter(&router);
    EXPECT_EQ(ui.shown, QStringList{c.alert});
    EXPECT_TRUE(delegate.receivedInput());
  }
}

TEST(FileOpenRouter, OtherEventsPassThrough) {
  NestingFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  FileOpenRouter router(delegate);
  QObject target;
  target.installEventFilter(&router);
  QEvent other(QEvent::User);
  QCoreApplication::sendEvent(&target, &other);
  EXPECT_FALSE(delegate.receivedInput());
}

}  // namespace
