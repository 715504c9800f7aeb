#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "base/ProcessRunner.h"
#include "support/Expect.h"

namespace {

const QString kShell = QStringLiteral("/bin/sh");

QString sh(const QString& script, bool capture = true) {
  return runProcess(kShell, {QStringLiteral("-c"), script}, capture);
}

TEST(RunProcess, ReturnsJoinedOutputUntrimmedOnlyWhenCapturing) {
  EXPECT_EQ(sh(QStringLiteral("printf 'word\\n'")), QStringLiteral("word\n"));
  EXPECT_EQ(sh(QStringLiteral("printf 'word\\n'"), false), QString());
  EXPECT_EQ(sh(QStringLiteral("printf 'err\\n' >&2")), QStringLiteral("err\n"));
  EXPECT_EQ(sh(QStringLiteral("printf a; printf b >&2; printf c")), QStringLiteral("abc"));
}

TEST(RunProcess, FailureCarriesTrimmedOutputOrTheFixedText) {
  struct Case {
    const char* script;
    const char* message;
  } cases[] = {
      {"printf '  bad thing\\n'; exit 2", "bad thing"},
      {"printf 'to stderr\\n' >&2; exit 1", "to stderr"},
      {"exit 1", "The local Orvane skin engine failed."},
      {"printf ' \\n\\t '; exit 3", "The local Orvane skin engine failed."},
      {"printf '\\377\\376 not utf-8'; exit 1", "The local Orvane skin engine failed."},
      {"kill -9 $$", "The local Orvane skin engine failed."},
      {"printf 'dying'; kill -TERM $$", "dying"},
  };
  for (const Case& c : cases) {
    try {
      sh(QString::fromUtf8(c.script));
      ADD_FAILURE() << "no failure for " << c.script;
    } catch (const HelperError& error) {
      EXPECT_EQ(error.errorCase(), HelperError::Case::processFailed) << c.script;
      EXPECT_EQ(error.localizedDescription(), QString::fromUtf8(c.message)) << c.script;
    }
  }
}

TEST(RunProcess, OutputThatIsNotUtf8IsNoneUnlessInvalidBytesAreReplaced) {
  const QString script = QStringLiteral("printf 'caf\\351.txt\\n\\377\\nbg.png\\n'");
  EXPECT_EQ(sh(script), QString());
  EXPECT_EQ(runProcess(kShell, {QStringLiteral("-c"), script}, true, OutputText::replaceInvalid),
            QStringLiteral("caf\uFFFD.txt\n\uFFFD\nbg.png\n"));
}

TEST(RunProcess, LaunchErrorIsThePlatformsOwn) {
  for (const QString& program : {QStringLiteral("/nonexistent/tool"),
                                 QStringLiteral("/etc/hostname"), QStringLiteral("/tmp")}) {
    try {
      runProcess(program, {}, true);
      ADD_FAILURE() << "started " << program.toStdString();
    } catch (const PlatformError& error) {
      EXPECT_FALSE(error.localizedDescription().isEmpty());
    }
  }
}

TEST(RunProcess, ArgumentsReachTheChildIntact) {
  const QStringList arguments{QStringLiteral("two words"),    QStringLiteral("\"quoted\" 'single'"),
                              QStringLiteral("-n"),           QStringLiteral("--image"),
                              QStringLiteral("$HOME `id` *"), QString(),
                              QStringLiteral("caf\u00E9")};
  QStringList call{QStringLiteral("-c"), QStringLiteral("for a; do printf '[%s]' \"$a\"; done"),
                   QStringLiteral("sh")};
  call += arguments;
  QString expected;
  for (const QString& a : arguments) expected += u'[' + a + u']';
  EXPECT_EQ(runProcess(kShell, call, true), expected);
}

TEST(RunProcess, DrainsAChildThatPrintsMegabytes) {
  // 8 MiB on each stream: far beyond a pipe's buffer, so a runner that only
  // reads after the child exits would never return.
  const QString output = sh(QStringLiteral(
      "head -c 8388608 /dev/zero | tr '\\0' a; head -c 8388608 /dev/zero | tr '\\0' b >&2"));
  EXPECT_EQ(output.size(), kMaxKeptProcessOutput);
  EXPECT_TRUE(output.startsWith(u'a'));
}

TEST(RunProcess, KeptOutputEndsOnWholeCharacters) {
  // Three-byte characters across the keep limit must not leave a broken
  // sequence behind (which would turn the whole text into the fixed message).
  try {
    sh(QStringLiteral(
        "i=0; while [ $i -lt 400000 ]; do printf '\\342\\202\\254'; i=$((i+1)); done; exit 1"));
    ADD_FAILURE();
  } catch (const HelperError& error) {
    EXPECT_GT(error.localizedDescription().size(), 300000);
    EXPECT_TRUE(error.localizedDescription().startsWith(QStringLiteral("\u20AC")));
  }
}

TEST(RunProcess, ReturnsWhenTheChildExitsEvenIfItClosedItsOutputEarly) {
  EXPECT_EQ(sh(QStringLiteral("printf x; exec >/dev/null 2>&1; sleep 0.3")), QStringLiteral("x"));
}

}  // namespace
