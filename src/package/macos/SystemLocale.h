#pragma once
// The C library's per-thread locales, which macOS declares in a header of its own.
#include <xlocale.h>

/// macOS has no C.UTF-8; this one is always there.
inline constexpr char kUtf8LocaleName[] = "en_US.UTF-8";
