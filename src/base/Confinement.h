#pragma once
#include <sys/types.h>
#include <QByteArray>
#include <QString>

// What a process that parses untrusted bytes is allowed to do. The package
// reader runs under all of it: hard limits set before it starts, and the rest
// applied by itself before it reads a byte of the package.

/// Sets the hard limits of a confined child (address space, CPU time, open
/// files, file size, no core file) and forbids it to gain privileges. Lower
/// limits already in force stay. Makes system calls only, so it is safe
/// between fork and exec; returns false when a limit could not be set.
bool limitConfinedChild() noexcept;

/// Confines the calling process for good: from now on it can write, create,
/// remove or rename nothing outside `writableDirectory` (where the kernel
/// offers Landlock), and cannot open a network socket, trace or signal other
/// processes, enter new namespaces, or gain privileges. Throws PlatformError
/// when a part of this that the system offers cannot be applied.
void confineProcess(const QByteArray& writableDirectory);

/// From now on the calling process can write, create, remove or rename
/// nothing at all (where the kernel offers Landlock); what it has open stays
/// usable. Throws PlatformError when Landlock is there but fails.
void stopWriting();

/// What confinement this system gives the package reader, for example
/// "landlock 3, seccomp, limits".
QString confinementSummary();

/// Makes the calling child end with its parent, `parent`, so that a helper
/// killed halfway leaves no reader running (where the system offers it; the
/// CPU limit bounds it elsewhere). Safe between fork and exec.
void endWithParent(pid_t parent) noexcept;

/// Closes every descriptor from `first` on. Safe between fork and exec.
void closeDescriptorsFrom(int first) noexcept;
