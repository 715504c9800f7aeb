// What a confined process can no longer do, tried from a real child process.
#include "base/Confinement.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <functional>

#include "base/ConfinedChild.h"
#include "base/HelperError.h"

namespace {

/// Runs `attempt` in a forked child after confineProcess(`writable`) and
/// returns its exit status: 0 when the attempt succeeded, else its errno.
int afterConfining(const QString& writable, const std::function<int()>& attempt) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    try {
      confineProcess(QFile::encodeName(writable));
    } catch (...) {
      ::_exit(250);
    }
    ::_exit(attempt());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 251;
}

int createFile(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

TEST(Confinement, WritesOnlyBeneathItsDirectoryAndOpensNoSocket) {
  QTemporaryDir root;
  const QString inside = root.filePath("inside");
  const QString outside = root.filePath("outside");
  ASSERT_TRUE(QDir().mkpath(inside + "/deeper") && QDir().mkpath(outside));
  QFile kept(outside + "/kept.txt");
  ASSERT_TRUE(kept.open(QIODevice::WriteOnly) && kept.write("kept") == 4);
  kept.close();
  const bool landlock = confinementSummary().startsWith("landlock");

  EXPECT_EQ(afterConfining(inside, [&] { return createFile(inside + "/deeper/made"); }), 0);
  EXPECT_EQ(
      afterConfining(inside, [&] { return ::socket(AF_UNIX, SOCK_STREAM, 0) < 0 ? errno : 0; }),
      EPERM);
  EXPECT_EQ(
      afterConfining(inside, [&] { return ::socket(AF_INET6, SOCK_DGRAM, 0) < 0 ? errno : 0; }),
      EPERM);
  EXPECT_EQ(afterConfining(inside, [] { return ::unshare(CLONE_NEWUSER) < 0 ? errno : 0; }), EPERM);
  if (!landlock) GTEST_SKIP() << "this kernel has no Landlock: writes are not confined";
  EXPECT_EQ(afterConfining(inside, [&] { return createFile(outside + "/made"); }), EACCES);
  EXPECT_EQ(afterConfining(inside, [&] { return createFile(root.filePath("made")); }), EACCES);
  EXPECT_EQ(afterConfining(inside,
                           [&] {
                             return ::rename(QFile::encodeName(outside + "/kept.txt").constData(),
                                             QFile::encodeName(inside + "/taken").constData()) < 0
                                        ? errno
                                        : 0;
                           }),
            EACCES);
  EXPECT_EQ(afterConfining(inside,
                           [&] {
                             return ::truncate(QFile::encodeName(outside + "/kept.txt").constData(),
                                               0) < 0
                                        ? errno
                                        : 0;
                           }),
            EACCES);
  EXPECT_EQ(afterConfining(inside,
                           [&] {
                             stopWriting();
                             return createFile(inside + "/after");
                           }),
            EACCES);
  EXPECT_EQ(QDir(outside).entryList(QDir::Files), QStringList{"kept.txt"});
  EXPECT_EQ(QFileInfo(outside + "/kept.txt").size(), 4);
}

TEST(ConfinedChild, RunsUnderTheLimitsWithOnlyTheDescriptorsGiven) {
  int ends[2];
  ASSERT_TRUE(openPipe(ends));
  // The child reports its limits and which of descriptors 3..9 it holds.
  const QByteArray script =
      "ulimit -v; ulimit -n; ulimit -c; for fd in 3 4 5 6 7 8 9; do "
      "if { true >&$fd; } 2>/dev/null; then printf '%s ' $fd; fi; done; echo";
  ConfinedChild child("/bin/sh", {"sh", "-c", script}, {{ends[1], 1}});
  ::close(ends[1]);
  QFile out;
  ASSERT_TRUE(out.open(ends[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
  const QByteArray said = out.readAll();
  EXPECT_EQ(child.wait(), 0);
#ifdef VELMORA_SANITIZED
  EXPECT_EQ(said.mid(said.indexOf('\n') + 1), "64\n0\n\n");
#else
  EXPECT_EQ(said, "1048576\n64\n0\n\n");
#endif

  EXPECT_THROW(ConfinedChild("/nonexistent/reader", {"reader"}, {}), PlatformError);
}

}  // namespace
