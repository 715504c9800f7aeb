#include "base/Confinement.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "base/Limits.h"

// macOS offers neither Landlock nor seccomp to an unsigned program: the
// reader runs under the hard limits and the deadlines only.

namespace {

bool setLimit(int resource, rlim_t most) noexcept {
  struct rlimit limit {};
  if (::getrlimit(resource, &limit) != 0) return false;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < most) most = limit.rlim_max;
  limit.rlim_cur = most;
  limit.rlim_max = most;
  return ::setrlimit(resource, &limit) == 0;
}

}  // namespace

bool limitConfinedChild() noexcept {
  bool all = setLimit(RLIMIT_AS, kReaderAddressSpaceBytes);
  all = setLimit(RLIMIT_CPU, kReaderCpuSeconds) && all;
  all = setLimit(RLIMIT_NOFILE, kReaderOpenFiles) && all;
  all = setLimit(RLIMIT_FSIZE, kReaderFileBytes) && all;
  return setLimit(RLIMIT_CORE, 0) && all;
}

void confineProcess(const QByteArray& writableDirectory) {
  static_cast<void>(writableDirectory);
}

void stopWriting() {}

QString confinementSummary() {
  return QStringLiteral("limits");
}

void endWithParent(pid_t parent) noexcept {
  static_cast<void>(parent);
}

void closeDescriptorsFrom(int first) noexcept {
  const long most = ::sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < (most > 0 ? most : 1024); ++fd) ::close(static_cast<int>(fd));
}
