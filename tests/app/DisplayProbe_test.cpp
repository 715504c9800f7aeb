#include "app/DisplayProbe.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>
#include <optional>

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

TEST_F(DisplayProbeTest, DecidesFromTheEnvironmentWithoutAnyServer) {
  const QByteArray dead = deadDisplay();
  struct Case {
    const char* what;
    std::map<const char*, QByteArray> environment;
    bool forceConsole;
    FrontEndKind expected;
    std::optional<QByteArray> platformAfter;
  };
  const Case cases[] = {
      {"nothing set", {}, false, FrontEndKind::console, std::nullopt},
      {"--console wins over a platform",
       {{"QT_QPA_PLATFORM", "offscreen"}},
       true,
       FrontEndKind::console,
       "offscreen"},
      {"offscreen is trusted",
       {{"QT_QPA_PLATFORM", "offscreen"}},
       false,
       FrontEndKind::dialogs,
       "offscreen"},
      {"minimal is trusted",
       {{"QT_QPA_PLATFORM", "minimal"}},
       false,
       FrontEndKind::dialogs,
       "minimal"},
      {"empty platform counts as unset",
       {{"QT_QPA_PLATFORM", ""}},
       false,
       FrontEndKind::console,
       ""},
      {"X display nobody serves", {{"DISPLAY", dead}}, false, FrontEndKind::console, std::nullopt},
      {"xcb forced without DISPLAY",
       {{"QT_QPA_PLATFORM", "xcb"}},
       false,
       FrontEndKind::console,
       "xcb"},
      {"xcb with options, dead display",
       {{"QT_QPA_PLATFORM", "xcb:nograb"}, {"DISPLAY", dead}},
       false,
       FrontEndKind::console,
       "xcb:nograb"},
      {"falls back along the platform list",
       {{"QT_QPA_PLATFORM", "xcb;offscreen"}, {"DISPLAY", dead}},
       false,
       FrontEndKind::dialogs,
       "offscreen"},
      {"Wayland socket missing",
       {{"WAYLAND_DISPLAY", "wayland-velmora-none"}, {"XDG_RUNTIME_DIR", "/nonexistent"}},
       false,
       FrontEndKind::console,
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : kDisplayVariables) qunsetenv(name);
    for (const auto& [name, value] : c.environment) qputenv(name, value);

    EXPECT_EQ(chooseFrontEnd(c.forceConsole), c.expected);
    if (c.platformAfter) {
      EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), *c.platformAfter);
    } else {
      EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));
    }
  }
}

TEST_F(DisplayProbeTest, WaylandNeedsBothPluginAndListeningCompositor) {
  provideWaylandPlugin();
  qputenv("XDG_RUNTIME_DIR", runtimeDirPath());
  qputenv("WAYLAND_DISPLAY", "wayland-test");
  EXPECT_EQ(chooseFrontEnd(false), FrontEndKind::console) << "nothing listens yet";
  EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));

  startCompositorSocket();
  EXPECT_EQ(chooseFrontEnd(false), FrontEndKind::dialogs);
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "wayland");
}

TEST_F(DisplayProbeTest, WaylandDisplayMayBeAnAbsolutePath) {
  provideWaylandPlugin();
  startCompositorSocket();
  qputenv("WAYLAND_DISPLAY", runtimeDirPath() + "/wayland-test");
  qputenv("DISPLAY", deadDisplay());
  EXPECT_EQ(chooseFrontEnd(false), FrontEndKind::dialogs) << "a dead X display falls through";
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "wayland");
}

TEST_F(DisplayProbeTest, WaylandWithoutQtPluginStaysOnTheConsole) {
  if (platformPluginInstalled("wayland")) {
    GTEST_SKIP() << "Qt's Wayland platform plugin is installed here";
  }
  startCompositorSocket();
  qputenv("XDG_RUNTIME_DIR", runtimeDirPath());
  qputenv("WAYLAND_DISPLAY", "wayland-test");
  EXPECT_EQ(chooseFrontEnd(false), FrontEndKind::console);
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
  EXPECT_EQ(chooseFrontEnd(true), FrontEndKind::console);
  EXPECT_EQ(chooseFrontEnd(false), FrontEndKind::dialogs);
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb");

  qputenv("QT_QPA_PLATFORM", "wayland;xcb");
  qputenv("WAYLAND_DISPLAY", "wayland-velmora-none");
  EXPECT_EQ(chooseFrontEnd(false), FrontEndKind::dialogs);
  EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb") << "the entry that was probed is the one kept";

  server.terminate();
  server.waitForFinished();
}

}  // namespace
