#include "base/SystemRoom.h"

#include <sys/resource.h>

bool roomForWindows() noexcept {
  struct rlimit files {};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    // The soft limit is a default, not a decision: a program may take what
    // the hard limit allows.
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  struct rlimit space {};
  const bool enoughFiles =
      ::getrlimit(RLIMIT_NOFILE, &files) == 0 &&
      (files.rlim_cur == RLIM_INFINITY || files.rlim_cur >= rlim_t(kWindowsOpenFiles));
  const bool enoughSpace =
      ::getrlimit(RLIMIT_AS, &space) == 0 &&
      (space.rlim_cur == RLIM_INFINITY || space.rlim_cur >= rlim_t(kWindowsAddressSpaceBytes));
  return enoughFiles && enoughSpace;
}
