#include "base/Confinement.h"

#include <sys/resource.h>
#include <unistd.h>

#include "base/Limits.h"
#include "base/ResourceLimit.h"

// macOS offers neither Landlock nor seccomp to an unsigned program: the
// reader runs under the hard limits and the deadlines only.

bool limitConfinedChild() noexcept {
  bool all = lowerLimit(RLIMIT_AS, kReaderAddressSpaceBytes);
  all = lowerLimit(RLIMIT_CPU, kReaderCpuSeconds) && all;
  all = lowerLimit(RLIMIT_NOFILE, kReaderOpenFiles) && all;
  all = lowerLimit(RLIMIT_FSIZE, kReaderFileBytes) && all;
  return lowerLimit(RLIMIT_CORE, 0) && all;
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
