#include "base/ConfinedChild.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>

#include "base/Confinement.h"
#include "base/FileDescriptor.h"
#include "base/HelperError.h"
#include "base/SystemError.h"

extern char** environ;

namespace {

// Between fork and exec only async-signal-safe calls are made: the helper
// has other threads, and one of them may hold a lock the child would wait on
// for ever.
[[noreturn]] void childFails(int report, int errorNumber) {
  while (::write(report, &errorNumber, sizeof errorNumber) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

}  // namespace

bool openPipe(int ends[2]) {
  if (::pipe(ends) != 0) return false;
  // Every child this helper starts closes what it was not given, so the
  // moment before close-on-exec is set leaks nothing.
  ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  return true;
}

ConfinedChild::ConfinedChild(const QByteArray& program, const QList<QByteArray>& arguments,
                             const std::vector<InheritedDescriptor>& inherited) {
  std::vector<char*> argv;
  for (const QByteArray& argument : arguments) argv.push_back(const_cast<char*>(argument.data()));
  argv.push_back(nullptr);
  int highest = 2;
  for (const InheritedDescriptor& each : inherited) highest = std::max(highest, each.target);

  // The child reports a failed exec (or limit) through this pipe; a
  // successful exec closes it empty.
  int reportPipe[2];
  if (!openPipe(reportPipe)) {
    throw PlatformError(systemErrorText(QString::fromLocal8Bit(program), errno));
  }
  FileDescriptor reportRead(reportPipe[0]);
  FileDescriptor reportWrite(reportPipe[1]);
  std::vector<int> moved(inherited.size(), -1);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw PlatformError(systemErrorText(QString::fromLocal8Bit(program), errno));
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    endWithParent(parent);
    // Everything moves above the targets first, so that no source is
    // overwritten before it has been placed.
    const int report = ::fcntl(reportPipe[1], F_DUPFD_CLOEXEC, highest + 1);
    if (report < 0) childFails(reportPipe[1], errno);
    for (size_t i = 0; i < inherited.size(); ++i) {
      moved[i] = ::fcntl(inherited[i].source, F_DUPFD_CLOEXEC, highest + 2);
      if (moved[i] < 0) childFails(report, errno);
    }
    for (size_t i = 0; i < inherited.size(); ++i) {
      if (::dup2(moved[i], inherited[i].target) < 0) childFails(report, errno);
    }
    if (::dup2(report, highest + 1) < 0 || ::fcntl(highest + 1, F_SETFD, FD_CLOEXEC) != 0) {
      childFails(report, errno);
    }
    closeDescriptorsFrom(highest + 2);
    if (!limitConfinedChild()) childFails(highest + 1, EPERM);
    ::execve(program.constData(), argv.data(), environ);
    childFails(highest + 1, errno);
  }
  pid_ = pid;
  reportWrite = FileDescriptor(-1);
  int childError = 0;
  ssize_t got;
  while ((got = ::read(reportRead.get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
  }
  if (got == sizeof childError) {
    wait();
    throw PlatformError(systemErrorText(QString::fromLocal8Bit(program), childError));
  }
}

void ConfinedChild::end() noexcept {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  wait();
}

int ConfinedChild::wait() noexcept {
  if (pid_ <= 0) return 0;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return status;
}
