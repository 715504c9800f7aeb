#include "session/RunSignals.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <csignal>

#include "support/FakeFrontEnd.h"

namespace {

// A question that waits in an event loop of its own, as a modal dialog does.
class WaitingFrontEnd final : public FrontEnd {
 public:
  void showAlert(AlertKind, const QString&, const QString&) override { ++alerts; }
  bool askToApply(const QString&, const QString&, const ConfirmationDetails&) override {
    QTimer::singleShot(0, [] { std::raise(SIGTERM); });
    QEventLoop question;
    question.exec();
    return true;  // as if "Apply skin" had been pressed
  }
  void applyStarted(const QString&, std::function<bool()>) override {}
  void downloadProgress(qint64, qint64) override {}
  void engineStarted() override {}
  void applyEnded() override {}
  int alerts = 0;
};

TEST(RunSignals, AQuestionOpenIsAnsweredCancelAndNothingMoreIsShown) {
  RunSignals runSignals;
  WaitingFrontEnd inner;
  SignalEndedFrontEnd shown(inner, runSignals);
  // The signal ends every loop of the run, the question's too; without the
  // watch it would end the test program.
  bool answer = true;
  QTimer::singleShot(0, [&] { answer = shown.askToApply({}, {}, {}); });
  EXPECT_EQ(QCoreApplication::exec(), 143);
  EXPECT_FALSE(answer);
  EXPECT_EQ(runSignals.received(), SIGTERM);
  shown.showAlert(AlertKind::notice, QStringLiteral("Skin applied"), {});
  EXPECT_EQ(inner.alerts, 0);
  EXPECT_FALSE(shown.askToApply({}, {}, {}));
}

TEST(RunSignals, ADownloadIsCancelledAndAnEngineRunIsLeftToFinish) {
  struct Case {
    const char* what;
    bool engineRuns;
    int cancels;
  } cases[] = {{"during the download", false, 1}, {"while the engine runs", true, 0}};
  for (const Case& c : cases) {
    RunSignals runSignals;
    FakeFrontEnd inner;
    SignalEndedFrontEnd shown(inner, runSignals);
    int cancels = 0;
    shown.applyStarted(QStringLiteral("Aurora"), [&] {
      ++cancels;
      return true;
    });
    if (c.engineRuns) shown.engineStarted();
    // An event loop of the run: one that ends the run would end it too.
    QEventLoop run;
    QTimer::singleShot(0, [] { std::raise(SIGHUP); });
    QTimer turns;
    int turnsLeft = 20;
    QObject::connect(&turns, &QTimer::timeout, &run, [&] {
      if (--turnsLeft == 0) run.exit(-1);
    });
    turns.start(0);
    EXPECT_EQ(run.exec(), -1) << c.what << ": the run goes on until the flow ends it";
    EXPECT_EQ(cancels, c.cancels) << c.what;
    EXPECT_EQ(inner.steps, QStringList{"started Aurora"} +
                               (c.engineRuns ? QStringList{"engine"} : QStringList{}))
        << c.what;
    shown.applyEnded();
    shown.showAlert(AlertKind::notice, QStringLiteral("Skin applied"), {});
    EXPECT_TRUE(inner.shown.empty()) << c.what;
  }
}

}  // namespace
