#pragma once
// The C library's per-thread locales, as glibc declares them.
#include <locale.h>

/// The UTF-8 locale every glibc system has.
inline constexpr char kUtf8LocaleName[] = "C.UTF-8";
