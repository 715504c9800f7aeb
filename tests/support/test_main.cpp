// Test entry point: every test program runs inside a QApplication on the
// offscreen platform, so tests can use event loops, networking and widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The program's own runtime directory (Qt's sockets and locks, the single
  // instance's), private and removed when it ends: nothing is shared with the
  // session the tests run in, and Qt has none to make up and warn about.
  const QTemporaryDir runtime;
  if (!runtime.isValid()) {
    std::fprintf(stderr, "cannot make a runtime directory: %s\n",
                 qPrintable(runtime.errorString()));
    return 1;
  }
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
