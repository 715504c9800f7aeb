#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "app/AppDelegate.h"
#include "engine/SkinEngine.h"
#include "support/FakeFrontEnd.h"
#include "support/RunDelegate.h"

namespace {

QStringList titles(const FakeFrontEnd& ui) {
  QStringList result;
  for (const auto& shown : ui.shown) result.append(shown.title);
  return result;
}

const QString kLink = QStringLiteral("velmora://apply?image=https://velmora.app/a.png&name=Aurora");

TEST(AppDelegate, ReadyAlertAfterAMomentWhenNothingIsOpened) {
  FakeFrontEnd ui;
  AppDelegate delegate(ui);
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.applicationDidFinishLaunching(); }), kExitApplied);
  EXPECT_GE(clock.elapsed(), 790);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].kind, "notice");
  EXPECT_EQ(ui.shown[0].title, QStringLiteral("Velmora Helper is ready"));
  EXPECT_EQ(ui.shown[0].text,
            QStringLiteral("Choose a skin on velmora.app and click Apply to Orvane."));
}

TEST(AppDelegate, RefusedLinkShowsOneAlertAndNoReadyAlert) {
  FakeFrontEnd ui;
  AppDelegate delegate(ui);
  EXPECT_EQ(runDelegate(delegate,
                        [&] {
                          delegate.applicationDidFinishLaunching();
                          delegate.openUrls(
                              {QStringLiteral("VeLmOrA://apply?image=http://velmora.app/a.png")});
                        }),
            kExitFailed);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].kind, "problem");
  EXPECT_EQ(ui.shown[0].title, QStringLiteral("Invalid skin link"));
  EXPECT_EQ(ui.shown[0].text,
            QStringLiteral("Velmora Helper only downloads HTTPS images from velmora.app."));
  EXPECT_FALSE(delegate.operationInFlight());
}

TEST(AppDelegate, CancelEndsAtOnceBeforeTheNextLinkIsLookedAt) {
  FakeFrontEnd ui;
  ui.answers = {false, true};
  AppDelegate delegate(ui);
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink, kLink}); }), kExitCancelled);
  EXPECT_EQ(titles(ui), QStringList{QStringLiteral("Apply Aurora to Orvane?")});
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
  const QByteArray oldHome = qgetenv("HOME");
  qputenv("TMPDIR", work.filePath("tmp").toUtf8());
  qputenv("HOME", work.path().toUtf8());  // where no engine is installed
  const QString package = work.filePath("Aurora.velmora");
  {
    QFile manifest(work.filePath("theme.json"));
    ASSERT_TRUE(manifest.open(QIODevice::WriteOnly));
    manifest.write(R"({"schemaVersion": 1, "name": "Aurora", "image": "background.png",
                      "colors": {"accent": "#AABBCC", "highlight": "#123456"}})");
    QFile image(work.filePath("background.png"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write("\x89PNG\r\n\x1a\n");
  }
  ASSERT_EQ(QProcess::execute("zip", {"-qj", package, work.filePath("theme.json"),
                                      work.filePath("background.png")}),
            0);

  FakeFrontEnd ui;
  AppDelegate linkDelegate(ui);
  runDelegate(linkDelegate, [&] {
    linkDelegate.openUrls(
        {QStringLiteral("velmora://apply?image=https://WWW.Velmora.App/a.png&accent=%23ABCDEF")});
  });
  AppDelegate packageDelegate(ui);
  runDelegate(packageDelegate, [&] { packageDelegate.openFiles({package}); });
  // Confirmed, a package has nothing to download and nothing to cancel.
  FakeFrontEnd applying;
  applying.answers = {true};
  applying.onApplyStarted = [&] { EXPECT_FALSE(applying.cancel); };
  AppDelegate applyingDelegate(applying);
  runDelegate(
      applyingDelegate, [&] { applyingDelegate.openFiles({package}); }, 30000);
  qputenv("TMPDIR", oldTmp);
  qputenv("HOME", oldHome);
  EXPECT_EQ(applying.steps, (QStringList{"started Aurora", "engine", "ended"}));

  ASSERT_EQ(ui.shown.size(), 2u);
  EXPECT_EQ(ui.shown[0].details,
            (ConfirmationDetails{"www.velmora.app", "#abcdef", "#e28a78", "#8a6cff", {}}));
  const ConfirmationDetails fromPackage = ui.shown[1].details;
  EXPECT_EQ(fromPackage.source, "Aurora.velmora");
  EXPECT_EQ(QStringList({fromPackage.accent, fromPackage.secondary, fromPackage.highlight}),
            QStringList({"#aabbcc", "#e28a78", "#123456"}));
  EXPECT_TRUE(fromPackage.imageFile.startsWith(work.filePath("tmp") + '/'));
  EXPECT_TRUE(fromPackage.imageFile.endsWith("/background.png"));
}

TEST(AppDelegate, CancellingTheDownloadEndsWithThreeNoFurtherAlertAndNoEngine) {
  FakeFrontEnd ui;
  ui.answers = {true};
  ui.onApplyStarted = [&] { EXPECT_TRUE(ui.cancel && ui.cancel()); };
  AppDelegate delegate(ui);
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({kLink}); }), kExitCancelled);
  EXPECT_EQ(titles(ui), QStringList{QStringLiteral("Apply Aurora to Orvane?")});
  EXPECT_EQ(ui.steps, (QStringList{"started Aurora", "ended"}));
  EXPECT_FALSE(delegate.operationInFlight());
}

TEST(AppDelegate, ACheckWhoseDownloadFailsSaysItCouldNotCheckTheSkin) {
  FakeFrontEnd ui;
  AppDelegate delegate(ui, AppDelegate::Mode::check,
                       [](const SkinRequest&) { ADD_FAILURE() << "nothing to report"; });
  EXPECT_EQ(runDelegate(
                delegate, [&] { delegate.openUrls({kLink}); }, 60000),
            kExitFailed);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].kind, "problem");
  EXPECT_EQ(ui.shown[0].title, QStringLiteral("Could not check skin"));
}

TEST(AppDelegate, UnusableEventEndsSilentlyWhenTheReadyCheckComesDue) {
  // The dialog front end: no window would be left for anyone to close.
  for (const QStringList& urls :
       {QStringList{QStringLiteral("https://velmora.app/skins/aurora.png")}, QStringList{}}) {
    FakeFrontEnd ui;
    AppDelegate delegate(ui);
    QElapsedTimer clock;
    clock.start();
    const int status = runDelegate(delegate, [&] {
      delegate.applicationDidFinishLaunching();
      if (urls.isEmpty()) {
        delegate.openFiles({});
      } else {
        delegate.openUrls(urls);
      }
    });
    EXPECT_EQ(status, kExitUsage);
    EXPECT_GE(clock.elapsed(), 790);
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(ui.nothingToDoCalls, 1);
  }
}

TEST(AppDelegate, ConsoleEndsAnUnusableEventWithItsStatus) {
  FakeFrontEnd ui;
  ui.idleStatus = kExitUsage;
  AppDelegate delegate(ui);
  EXPECT_EQ(runDelegate(delegate, [&] { delegate.openUrls({QStringLiteral("mailto:a@b.c")}); }),
            kExitUsage);
}

TEST(AppDelegate, ALinkArrivingDuringAnApplyIsIgnored) {
  // Confirm a link whose download cannot succeed here, and deliver a second
  // link while the first is under way: no second question, one final alert.
  FakeFrontEnd ui;
  ui.answers = {true, true};
  AppDelegate delegate(ui);
  const int status = runDelegate(
      delegate,
      [&] {
        delegate.openUrls({QStringLiteral("velmora://apply?image=https://velmora.app/skin.gif")});
        EXPECT_TRUE(delegate.operationInFlight());
        delegate.openUrls({kLink});
        delegate.handleDeepLink(kLink);
      },
      60000);
  EXPECT_EQ(status, kExitFailed);
  EXPECT_EQ(titles(ui), (QStringList{QStringLiteral("Apply My Orvane Skin to Orvane?"),
                                     QStringLiteral("Could not apply skin")}));
  EXPECT_FALSE(delegate.operationInFlight());
}

TEST(AppDelegate, ASkinOpenedFromOutsideDuringAnApplyIsAnsweredBusyAndNotTakenUp) {
  FakeFrontEnd ui;
  ui.answers = {true, true, true};
  AppDelegate delegate(ui);
  const int status = runDelegate(
      delegate,
      [&] {
        delegate.openUrls({QStringLiteral("velmora://apply?image=https://velmora.app/skin.gif")});
        delegate.deliverWhenIdle({OpenEvent::Kind::urls, {kLink}});
        delegate.deliverWhenIdle({OpenEvent::Kind::files, {QStringLiteral("/nonexistent/b.zip")}});
      },
      60000);
  EXPECT_EQ(status, kExitFailed);
  EXPECT_EQ(titles(ui), (QStringList{QStringLiteral("Apply My Orvane Skin to Orvane?"),
                                     QStringLiteral("Velmora Helper is busy"),
                                     QStringLiteral("Velmora Helper is busy"),
                                     QStringLiteral("Could not apply skin")}));
  EXPECT_EQ(ui.shown[1].text,
            QStringLiteral("Another skin is being applied. Try again once Orvane has reopened."));
}

// A package routed through the open-files event: only the first path counts.
TEST(AppDelegate, OpenFilesHandlesOnlyTheFirstPath) {
  FakeFrontEnd ui;
  AppDelegate delegate(ui);
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
  AppDelegate delegate(ui);
  EXPECT_EQ(
      runDelegate(delegate,
                  [&] {
                    delegate.openUrls({QStringLiteral("file:///nonexistent/skin.zip"), kLink});
                  }),
      kExitFailed);
  EXPECT_EQ(titles(ui), QStringList{QStringLiteral("Invalid Orvane skin")});
}

}  // namespace
