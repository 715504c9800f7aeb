#pragma once

/// The fewest open files, and the least address space, with which the
/// dialogs are known to come up: Qt's windowing (the X or Wayland
/// connection, its event loop, its threads) aborts or hangs with less.
inline constexpr long kWindowsOpenFiles = 64;
inline constexpr long long kWindowsAddressSpaceBytes = 768LL << 20;

/// Raises the soft limit on open files to the hard one, then says whether
/// this process may open at least kWindowsOpenFiles files and map at least
/// kWindowsAddressSpaceBytes: whether the dialogs can come up at all.
bool roomForWindows() noexcept;
