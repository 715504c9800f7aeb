#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include "flow/AppDelegate.h"
#include "support/FakeApplyEffects.h"
#include "support/FakeFrontEnd.h"
#include "support/RunDelegate.h"
#include "support/TestPackages.h"

namespace {

QStringList titles(const FakeFrontEnd& ui) {
  QStringList result;
  for (const auto& shown : ui.shown) result.append(shown.title);
  return result;
}

const QString kLink = QStringLiteral("velmora://apply?image=https://velmora.app/a.png&name=Aurora");

TEST(AppDelegate, ReadyAlertAfterAMomentWhenNothingIsOpened) {
  FakeFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(
      runDelegate(delegate,
                  [&] { delegate.applicationDidFinishLaunching(std::chrono::milliseconds(100)); }),
      kExitApplied);
  EXPECT_GE(clock.elapsed(), 95);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].kind, "notice");
  EXPECT_EQ(ui.shown[0].title, QStringLiteral("Velmora Helper is ready"));
  EXPECT_EQ(ui.shown[0].text,
            QStringLiteral("Choose a skin on velmora.app and click Apply to Orvane."));
}

TEST(AppDelegate, ARefusedInputShowsOneProblemAndNoReadyAlert) {
  const struct {
    QString input;
    QString title;
    QString text;
  } cases[] = {
      {QStringLiteral("VeLmOrA://apply?image=http://velmora.app/a.png"),
       QStringLiteral("Invalid skin link"),
       QStringLiteral("Velmora Helper only downloads HTTPS images from velmora.app.")},
      {QStringLiteral("velmora://install?image=x"), QStringLiteral("Invalid skin link"),
       QStringLiteral("Unsupported Velmora action.")},
      {QStringLiteral("VELMORA://apply?name=%3Cb%3EBold%3C/b%3E"),
       QStringLiteral("Invalid skin link"), QStringLiteral("The skin link has no valid image.")},
      {QStringLiteral("velmora://apply?image=https://velmora.app/a.png&accent=red"),
       QStringLiteral("Invalid skin link"),
       QStringLiteral("The skin contains an invalid color value.")},
      {QStringLiteral("file:///nonexistent/notes.txt"), QStringLiteral("Invalid Orvane skin"),
       QStringLiteral("Choose a .velmora package.")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.toStdString());
    FakeFrontEnd ui;
    ui.answers = {true};
    FakeApplyEffects effects;
    AppDelegate delegate(ui, effects);
    EXPECT_EQ(runDelegate(delegate,
                          [&] {
                            delegate.applicationDidFinishLaunching();
                            delegate.openUrls({c.input});
                          }),
              kExitFailed);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].kind, "problem");
    EXPECT_EQ(ui.shown[0].title, c.title);
    EXPECT_EQ(ui.shown[0].text, c.text);
    EXPECT_EQ(effects.imagesMadeLocal, 0);
    EXPECT_FALSE(delegate.operationInFlight());
  }
}

TEST(AppDelegate, CancelEndsAtOnceBeforeTheNextLinkIsLookedAt) {
  FakeFrontEnd ui;
  ui.answers = {false, true};
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink, kLink}); }), kExitCancelled);
  EXPECT_EQ(titles(ui), QStringList{QStringLiteral("Apply Aurora to Orvane?")});
  // Declined, the image is never fetched.
  EXPECT_EQ(effects.imagesMadeLocal, 0);
  EXPECT_TRUE(ui.steps.isEmpty());
  EXPECT_EQ(ui.shown[0].text,
            QStringLiteral(
                "Velmora Helper will use the local open-source engine and may restart Orvane."));
  EXPECT_FALSE(delegate.operationInFlight());
}

TEST(AppDelegate, TheQuestionSaysWhereTheSkinComesFromAndShowsItsColours) {
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  QDir(work.path()).mkdir("tmp");
  const QByteArray oldTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", work.filePath("tmp").toUtf8());
  const QString package = work.filePath("Aurora.velmora");
  QByteArray image;
  {
    QBuffer buffer(&image);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QImage(32, 16, QImage::Format_RGB32).save(&buffer, "PNG"));
  }
  ASSERT_TRUE(testing_support::writePackage(
      package,
      R"({"schemaVersion": 1, "name": "Aurora", "image": "background.png",
          "colors": {"accent": "#AABBCC", "highlight": "#123456"}})",
      {{"background.png", image}}));

  FakeFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate linkDelegate(ui, effects);
  runDelegate(linkDelegate, [&] {
    linkDelegate.openUrls(
        {QStringLiteral("velmora://apply?image=https://WWW.Velmora.App/a.png&accent=%23ABCDEF")});
  });
  AppDelegate packageDelegate(ui, effects);
  EXPECT_EQ(runDelegate(packageDelegate, [&] { packageDelegate.openFiles({package}); }),
            kExitCancelled);
  // What was extracted for a declined package is gone, and nothing ran.
  EXPECT_TRUE(QDir(work.filePath("tmp")).isEmpty());
  EXPECT_TRUE(effects.engineRuns.empty());
  // Confirmed, a package has nothing to download and nothing to cancel.
  FakeFrontEnd applying;
  applying.answers = {true};
  applying.onApplyStarted = [&] { EXPECT_FALSE(applying.cancel); };
  AppDelegate applyingDelegate(applying, effects);
  runDelegate(applyingDelegate, [&] { applyingDelegate.openFiles({package}); });
  qputenv("TMPDIR", oldTmp);
  EXPECT_EQ(applying.steps, (QStringList{"started Aurora", "engine", "ended"}));

  ASSERT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(ui.shown[0].details,
            (ConfirmationDetails{"www.velmora.app", "#abcdef", "#e28a78", "#8a6cff", {}}));
  const ConfirmationDetails fromPackage = ui.shown[1].details;
  EXPECT_EQ(fromPackage.source, "Aurora.velmora");
  EXPECT_EQ(QStringList({fromPackage.accent, fromPackage.secondary, fromPackage.highlight}),
            QStringList({"#aabbcc", "#e28a78", "#123456"}));
  // The package's question had its image's thumbnail to show.
  EXPECT_EQ(ui.shown[1].thumbnail, QSize(32, 16));
}

TEST(AppDelegate, CancellingTheDownloadEndsWithThreeNoFurtherAlertAndNoEngine) {
  FakeFrontEnd ui;
  ui.answers = {true};
  ui.onApplyStarted = [&] { EXPECT_TRUE(ui.cancel && ui.cancel()); };
  // The effects ignore the cancel and store the image anyway: a cancel that
  // came first still wins, and the engine never runs.
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink}); }), kExitCancelled);
  EXPECT_EQ(titles(ui), QStringList{QStringLiteral("Apply Aurora to Orvane?")});
  EXPECT_EQ(ui.steps, (QStringList{"started Aurora", "ended"}));
  EXPECT_TRUE(effects.engineRuns.empty());
  EXPECT_FALSE(delegate.operationInFlight());
}

TEST(AppDelegate, UnusableEventEndsSilentlyWhenTheReadyCheckComesDue) {
  // The dialog front end: no window would be left for anyone to close.
  for (const QStringList& urls :
       {QStringList{QStringLiteral("https://velmora.app/skins/aurora.png")}, QStringList{}}) {
    FakeFrontEnd ui;
    FakeApplyEffects effects;
    AppDelegate delegate(ui, effects);
    QElapsedTimer clock;
    clock.start();
    const int status = runDelegate(delegate, [&] {
      delegate.applicationDidFinishLaunching(std::chrono::milliseconds(100));
      if (urls.isEmpty()) {
        delegate.openFiles({});
      } else {
        delegate.openUrls(urls);
      }
    });
    EXPECT_EQ(status, kExitUsage);
    EXPECT_GE(clock.elapsed(), 95);
    EXPECT_TRUE(ui.shown.empty());
  }
}

TEST(AppDelegate, AConsoleRunEndsAnUnusableEventAtOnceSayingWhy) {
  for (const QStringList& urls : {QStringList{QStringLiteral("mailto:a@b.c")}, QStringList{}}) {
    FakeFrontEnd ui;
    FakeApplyEffects effects;
    AppDelegate delegate(ui, effects, AppDelegate::Mode::apply, {},
                         AppDelegate::Arrival::atLaunchOnly);
    // No ready check is scheduled: the run ends without one.
    EXPECT_EQ(runDelegate(delegate,
                          [&] {
                            if (urls.isEmpty()) {
                              delegate.openFiles({});
                            } else {
                              delegate.openUrls(urls);
                            }
                          }),
              kExitUsage);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].kind, "usage");
    EXPECT_EQ(ui.shown[0].text, "nothing to do: give a velmora:// link or a .velmora file");
  }
}

TEST(AppDelegate, ASkinOpenedFromOutsideDuringAnApplyIsAnsweredBusyAndNotTakenUp) {
  FakeFrontEnd ui;
  ui.answers = {true, true, true};
  FakeApplyEffects effects;
  effects.imageTakes = std::chrono::milliseconds(500);  // the apply is under way meanwhile
  effects.imageFailure = QStringLiteral("Connection refused");
  AppDelegate delegate(ui, effects);
  const int status = runDelegate(delegate, [&] {
    delegate.openUrls({kLink});
    EXPECT_TRUE(delegate.operationInFlight());
    // Whether from another launch or (as a test would) delivered directly.
    delegate.deliverWhenIdle({OpenEvent::Kind::urls, {kLink}});
    delegate.openFiles({QStringLiteral("/nonexistent/b.zip")});
  });
  EXPECT_EQ(status, kExitFailed);
  EXPECT_EQ(titles(ui),
            (QStringList{
                QStringLiteral("Apply Aurora to Orvane?"), QStringLiteral("Velmora Helper is busy"),
                QStringLiteral("Velmora Helper is busy"), QStringLiteral("Could not apply skin")}));
  EXPECT_EQ(ui.shown[1].text,
            QStringLiteral("Another skin is being applied. Try again once Orvane has reopened."));
  EXPECT_TRUE(effects.engineRuns.empty());
  EXPECT_EQ(effects.imagesMadeLocal, 1);
  EXPECT_FALSE(delegate.operationInFlight());
}

// A confirmed link to its end, with the image and the engine faked: what the
// user reads last, the status, and what the engine received.
TEST(AppDelegate, AConfirmedLinkEndsWithOneFinalAlert) {
  const QUrl local = QUrl::fromLocalFile(QStringLiteral("/tmp/U/background.png"));
  const struct {
    const char* what;
    QString imageFailure;
    QString engineFailure;
    int status;
    QString title;
    QString text;
    size_t engineRuns;
  } cases[] = {
      {"applied",
       {},
       {},
       kExitApplied,
       QStringLiteral("Skin applied"),
       QStringLiteral("Orvane is reopening with Aurora."),
       1},
      {"engine failed",
       {},
       QStringLiteral("Orvane could not be restarted."),
       kExitFailed,
       QStringLiteral("Could not apply skin"),
       QStringLiteral("Orvane could not be restarted."),
       1},
      {"image not had",
       QStringLiteral("Connection refused"),
       {},
       kExitFailed,
       QStringLiteral("Could not apply skin"),
       QStringLiteral("Connection refused"),
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFrontEnd ui;
    ui.answers = {true};
    FakeApplyEffects effects;
    effects.image = local;
    effects.imageFailure = c.imageFailure;
    effects.engineFailure = c.engineFailure;
    AppDelegate delegate(ui, effects);
    EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink}); }), c.status);
    EXPECT_EQ(titles(ui), (QStringList{QStringLiteral("Apply Aurora to Orvane?"), c.title}));
    EXPECT_EQ(ui.shown.back().text, c.text);
    ASSERT_EQ(effects.engineRuns.size(), c.engineRuns);
    if (c.engineRuns > 0) {
      EXPECT_EQ(effects.engineRuns[0],
                (SkinRequest{QStringLiteral("Aurora"), local, QStringLiteral("#c5533a"),
                             QStringLiteral("#e28a78"), QStringLiteral("#8a6cff")}));
    }
    EXPECT_FALSE(delegate.operationInFlight());
  }
}

TEST(AppDelegate, CheckReportsTheLocalRequestWithoutAskingOrRunningTheEngine) {
  FakeFrontEnd ui;
  FakeApplyEffects effects;
  std::vector<SkinRequest> reported;
  AppDelegate delegate(ui, effects, AppDelegate::Mode::check,
                       [&](const SkinRequest& request) { reported.push_back(request); });
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink}); }), kExitApplied);
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_TRUE(effects.engineRuns.empty());
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].name, QStringLiteral("Aurora"));
  EXPECT_EQ(reported[0].image, effects.image);
  EXPECT_FALSE(delegate.operationInFlight());

  // A check whose image cannot be had reports nothing and fails.
  FakeFrontEnd failingUi;
  FakeApplyEffects failing;
  failing.imageFailure = QStringLiteral("Connection refused");
  reported.clear();
  AppDelegate failingDelegate(failingUi, failing, AppDelegate::Mode::check,
                              [&](const SkinRequest& request) { reported.push_back(request); });
  EXPECT_EQ(runDelegate(failingDelegate, [&] { failingDelegate.openUrls({kLink}); }), kExitFailed);
  // It applies nothing, so it does not say it could not apply.
  EXPECT_EQ(titles(failingUi), QStringList{QStringLiteral("Could not check skin")});
  EXPECT_EQ(failingUi.shown[0].kind, "problem");
  EXPECT_TRUE(reported.empty());
}

// A package routed through the open-files event: only the first path counts.
TEST(AppDelegate, OpenFilesHandlesOnlyTheFirstPath) {
  FakeFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  EXPECT_EQ(runDelegate(delegate,
                        [&] {
                          delegate.openFiles({QStringLiteral("/nonexistent/a.txt"),
                                              QStringLiteral("/nonexistent/b.zip")});
                        }),
            kExitFailed);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].title, QStringLiteral("Invalid Orvane skin"));
  EXPECT_EQ(ui.shown[0].text, QStringLiteral("Choose a .velmora package."));
}

TEST(AppDelegate, FileUrlGoesToThePackageFlowWhateverItsExtension) {
  FakeFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  EXPECT_EQ(
      runDelegate(delegate,
                  [&] {
                    delegate.openUrls({QStringLiteral("file:///nonexistent/skin.zip"), kLink});
                  }),
      kExitFailed);
  EXPECT_EQ(titles(ui), QStringList{QStringLiteral("Invalid Orvane skin")});
}

}  // namespace
