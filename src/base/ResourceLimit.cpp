#include "base/ResourceLimit.h"

bool lowerLimit(int resource, rlim_t most) noexcept {
  struct rlimit limit {};
  if (::getrlimit(resource, &limit) != 0) return false;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < most) most = limit.rlim_max;
  limit.rlim_cur = most;
  limit.rlim_max = most;
  return ::setrlimit(resource, &limit) == 0;
}
