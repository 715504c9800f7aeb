#include "session/DisplayProbe.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>
#include <ostream>

void PrintTo(const DisplayChoice& choice, std::ostream* os) {
  *os << (choice.frontEnd == FrontEndKind::dialogs ? "dialogs on \"" : "console \"")
      << choice.platform.toStdString() << '"';
}

namespace {

const char* const kDisplayVariables[] = {"DISPLAY",          "WAYLAND_DISPLAY",
                                         "QT_QPA_PLATFORM",  "XDG_RUNTIME_DIR",
                                         "XDG_SESSION_TYPE", "QT_QPA_PLATFORM_PLUGIN_PATH"};

/// Every test starts with no display variable set and gets the process's own
/// values back afterwards (the test program itself runs on offscreen).
class DisplayProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kDisplayVariables) {
      if (qEnvironmentVariableIsSet(name)) saved_[name] = qgetenv(name);
      qunsetenv(name);
    }
  }
  void TearDown() override {
    for (const char* name : kDisplayVariables) {
      const auto found = saved_.find(name);
      if (found != saved_.end()) {
        qputenv(name, found->second);
      } else {
        qunsetenv(name);
      }
    }
  }

  /// A display name with no X server behind it.
  static QByteArray deadDisplay() {
    for (int number = 907;; ++number) {
      if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) {
        return ":" + QByteArray::number(number);
      }
    }
  }

  /// Makes QT_QPA_PLATFORM_PLUGIN_PATH name a directory holding a Wayland plugin file.
  void provideWaylandPlugin() {
    ASSERT_TRUE(pluginDir_.isValid());
    QFile plugin(pluginDir_.filePath(QStringLiteral("libqwayland-generic.so")));
    ASSERT_TRUE(plugin.open(QIODevice::WriteOnly));
    qputenv("QT_QPA_PLATFORM_PLUGIN_PATH", QFile::encodeName(pluginDir_.path()));
  }

  /// Listens on runtimeDir_/wayland-test like a compositor would.
  void startCompositorSocket() {
    ASSERT_TRUE(runtimeDir_.isValid());
    ASSERT_TRUE(compositor_.listen(runtimeDir_.filePath(QStringLiteral("wayland-test"))))
        << compositor_.errorString().toStdString();
  }

  QByteArray runtimeDirPath() const { return QFile::encodeName(runtimeDir_.path()); }

  std::map<std::string, QByteArray> saved_;
  QTemporaryDir pluginDir_;
  QTemporaryDir runtimeDir_;
  QLocalServer compositor_;
};

const DisplayChoice kConsole{};

DisplayChoice dialogsOn(const QByteArray& platform) {
  return {FrontEndKind::dialogs, platform};
}

/// chooseDisplay, checking that it left the environment as it found it.
DisplayChoice probe(bool forceConsole) {
  const bool platformSet = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  const DisplayChoice choice = chooseDisplay(forceConsole);
  EXPECT_EQ(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"), platformSet);
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), platform);
  return choice;
}

TEST_F(DisplayProbeTest, DecidesFromTheEnvironmentWithoutAnyServer) {
  const QByteArray dead = deadDisplay();
  struct Case {
    const char* what;
    std::map<const char*, QByteArray> environment;
    bool forceConsole;
    DisplayChoice expected;
  };
  const Case cases[] = {
      {"nothing set", {}, false, kConsole},
      {"--console wins over a platform", {{"QT_QPA_PLATFORM", "offscreen"}}, true, kConsole},
      {"offscreen is trusted", {{"QT_QPA_PLATFORM", "offscreen"}}, false, dialogsOn("offscreen")},
      {"minimal is trusted", {{"QT_QPA_PLATFORM", "minimal"}}, false, dialogsOn("minimal")},
      {"empty platform counts as unset", {{"QT_QPA_PLATFORM", ""}}, false, kConsole},
      {"X display nobody serves", {{"DISPLAY", dead}}, false, kConsole},
      {"xcb forced without DISPLAY", {{"QT_QPA_PLATFORM", "xcb"}}, false, kConsole},
      {"xcb with options, dead display",
       {{"QT_QPA_PLATFORM", "xcb:nograb"}, {"DISPLAY", dead}},
       false,
       kConsole},
      {"falls back along the platform list",
       {{"QT_QPA_PLATFORM", "xcb;offscreen"}, {"DISPLAY", dead}},
       false,
       dialogsOn("offscreen")},
      {"Wayland socket missing",
       {{"WAYLAND_DISPLAY", "wayland-velmora-none"}, {"XDG_RUNTIME_DIR", "/nonexistent"}},
       false,
       kConsole},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : kDisplayVariables) qunsetenv(name);
    for (const auto& [name, value] : c.environment) qputenv(name, value);
    EXPECT_EQ(probe(c.forceConsole), c.expected);
  }
}

TEST_F(DisplayProbeTest, WaylandNeedsBothPluginAndListeningCompositor) {
  provideWaylandPlugin();
  qputenv("XDG_RUNTIME_DIR", runtimeDirPath());
  qputenv("WAYLAND_DISPLAY", "wayland-test");
  EXPECT_EQ(probe(false), kConsole) << "nothing listens yet";

  startCompositorSocket();
  EXPECT_EQ(probe(false), dialogsOn("wayland"));
}

TEST_F(DisplayProbeTest, WaylandDisplayMayBeAnAbsolutePath) {
  provideWaylandPlugin();
  startCompositorSocket();
  qputenv("WAYLAND_DISPLAY", runtimeDirPath() + "/wayland-test");
  qputenv("DISPLAY", deadDisplay());
  EXPECT_EQ(probe(false), dialogsOn("wayland")) << "a dead X display falls through";
}

TEST_F(DisplayProbeTest, WaylandWithoutQtPluginStaysOnTheConsole) {
  if (platformPluginInstalled("wayland")) {
    GTEST_SKIP() << "Qt's Wayland platform plugin is installed here";
  }
  startCompositorSocket();
  qputenv("XDG_RUNTIME_DIR", runtimeDirPath());
  qputenv("WAYLAND_DISPLAY", "wayland-test");
  EXPECT_EQ(probe(false), kConsole);
}

TEST_F(DisplayProbeTest, OpensARunningXServer) {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  if (xvfb.isEmpty()) GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps adds it)";
  QProcess server;
  // -displayfd 1: Xvfb picks a free display and prints its number once ready.
  // -noreset: otherwise the server resets when each probe disconnects, and a
  // probe arriving during the reset is refused.
  server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("320x240x24")});
  QByteArray number;
  while (!number.contains('\n') && server.waitForReadyRead(15000)) number += server.readAll();
  if (!number.contains('\n')) {
    server.kill();
    server.waitForFinished();
    GTEST_SKIP() << "Xvfb did not start: " << server.readAllStandardError().toStdString();
  }

  qputenv("DISPLAY", ":" + number.trimmed());
  EXPECT_TRUE(x11DisplayOpens());
  EXPECT_EQ(probe(true), kConsole);
  EXPECT_EQ(probe(false), dialogsOn("xcb"));

  qputenv("QT_QPA_PLATFORM", "wayland;xcb");
  qputenv("WAYLAND_DISPLAY", "wayland-velmora-none");
  EXPECT_EQ(probe(false), dialogsOn("xcb")) << "the entry that was probed is the one chosen";

  server.terminate();
  server.waitForFinished();
}

}  // namespace
