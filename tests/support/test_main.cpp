// Test entry point: every test program runs inside a QApplication on the
// offscreen platform, so tests can use event loops, networking and widgets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The program's temporary folder and runtime directory (Qt's sockets and
  // locks, the single instance's) are its own and removed when it ends: what
  // a test leaves there, such as an extraction a flow keeps for the engine,
  // never piles up in /tmp, nothing is shared with the session the tests run
  // in, and Qt has no runtime directory to make up and warn about.
  const QTemporaryDir scratch;
  const QByteArray runtime = QFile::encodeName(scratch.path() + QStringLiteral("/runtime"));
  if (!scratch.isValid() || ::mkdir(runtime.constData(), 0700) != 0) {
    std::fprintf(stderr, "cannot make a temporary folder for the tests\n");
    return 1;
  }
  qputenv("TMPDIR", QFile::encodeName(scratch.path()));
  qputenv("XDG_RUNTIME_DIR", runtime);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
