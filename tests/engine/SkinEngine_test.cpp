#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include "engine/SkinEngine.h"
#include "support/Expect.h"

namespace {

TEST(HomeDirectory, IsAnAbsoluteHomeElseTheAccountsOwn) {
  const QString account = QStringLiteral("/var/lib/account");
  const struct {
    const char* home;
    std::optional<QString> account;
    QString expected;
  } cases[] = {
      {"/home/u", account, QStringLiteral("/home/u")},
      {"/", account, QStringLiteral("/")},
      {"", account, account},
      {"home/u", account, account},
      {"~", account, account},
      {"", std::nullopt, QString()},
      {"", QString(), QString()},
      {"", QStringLiteral("relative"), QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.home);
    int lookUps = 0;
    EXPECT_EQ(homeDirectory(QString::fromUtf8(c.home),
                            [&] {
                              ++lookUps;
                              return c.account;
                            }),
              c.expected);
    EXPECT_EQ(lookUps, c.home[0] == '/' ? 0 : 1);
  }
}

// Gives the engine an environment whose HOME is a fresh directory for one
// test, so the engine path is ours.
class EngineHome : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    environment_.insert(QStringLiteral("HOME"), home_.path());
    record_ = home_.filePath(QStringLiteral("args"));
  }

  void installEngine(const QByteArray& body, QFileDevice::Permissions permissions) {
    const QString script = engineScriptPath(environment_);
    QDir().mkpath(QFileInfo(script).path());
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(permissions);
  }

  void apply(const QString& name = QStringLiteral("Aurora")) {
    applySkin({name, QUrl::fromLocalFile(QStringLiteral("/tmp/X/background.png")),
               QStringLiteral("#aabbcc"), QStringLiteral("#e28a78"), QStringLiteral("#8a6cff")},
              environment_);
  }

  QTemporaryDir home_;
  QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
  QString record_;
  const QFileDevice::Permissions kExecutable =
      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
};

TEST_F(EngineHome, LivesUnderTheHomeDirectory) {
  EXPECT_EQ(engineScriptPath(environment_),
            home_.path() +
                QStringLiteral("/.orvane/orvane-theme-forge/scripts/customize-theme-macos.sh"));
}

TEST_F(EngineHome, ReceivesTenArgumentsExactly) {
  installEngine(
      "for a; do printf '%s\\n' \"$a\"; done > '" + record_.toUtf8() + "'\necho progress\n",
      kExecutable);
  apply(QStringLiteral("-n My \"Skin\""));
  QFile file(record_);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(
      QString::fromUtf8(file.readAll()),
      QStringLiteral("--image\n/tmp/X/background.png\n--name\n-n My \"Skin\"\n--accent\n#aabbcc\n"
                     "--secondary\n#e28a78\n--highlight\n#8a6cff\n"));
}

TEST_F(EngineHome, RunsWithExactlyTheGivenEnvironment) {
  if (!QFile::exists(QStringLiteral("/proc/self/environ"))) GTEST_SKIP() << "needs /proc";
  // What the process environment gained since (a later launch's activation
  // token, say) never reaches the engine; what it lost still does.
  environment_.insert(QStringLiteral("VELMORA_GIVEN"), QStringLiteral("a b\tc"));
  environment_.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
  qputenv("XDG_ACTIVATION_TOKEN", "later-launch");
  installEngine("cat /proc/$$/environ > '" + record_.toUtf8() + "'\n", kExecutable);
  apply();
  qunsetenv("XDG_ACTIVATION_TOKEN");
  QFile file(record_);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QSet<QString> received;
  for (const QByteArray& entry : file.readAll().split('\0')) {
    if (!entry.isEmpty()) received.insert(QString::fromLocal8Bit(entry));
  }
  const QStringList given = environment_.toStringList();
  EXPECT_EQ(received, QSet<QString>(given.begin(), given.end()));
}

TEST_F(EngineHome, MissingOrNotExecutableIsEngineMissing) {
  const QString missing =
      QStringLiteral("Velmora engine is missing. Run the Velmora installer again.");
  EXPECT_FAILURE_TEXT(apply(), missing);
  installEngine("touch '" + record_.toUtf8() + "'\n",
                QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  EXPECT_FAILURE_TEXT(apply(), missing);
  QFile::remove(engineScriptPath(environment_));
  QDir().mkpath(engineScriptPath(environment_));  // a directory where the script should be
  EXPECT_FAILURE_TEXT(apply(), missing);
  EXPECT_FALSE(QFile::exists(record_));
}

TEST_F(EngineHome, FailureShowsTheEnginesOwnWords) {
  installEngine("echo '  Orvane is not installed.  '\nexit 1\n", kExecutable);
  EXPECT_FAILURE_TEXT(apply(), QStringLiteral("Orvane is not installed."));
  installEngine("exit 4\n", kExecutable);
  EXPECT_FAILURE_TEXT(apply(), QStringLiteral("The local Orvane skin engine failed."));
}

}  // namespace
