#pragma once
#include <sys/resource.h>

/// Lowers `resource`'s soft and hard limits to `most`, or keeps them where
/// they already are lower: an unprivileged process cannot raise a hard
/// limit. System calls only, so safe between fork and exec; false when the
/// limit could not be set.
bool lowerLimit(int resource, rlim_t most) noexcept;
