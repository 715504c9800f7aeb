#pragma once

/// True when an entry name of the zip archive open on `archiveFd` holds a
/// NUL byte, in the archive's central directory or in the local header an
/// entry there points at. The zip tool and the extractor both read a name
/// only up to its first NUL, so "evil\0.png" would pass them as "evil" while
/// another reader sees the rest. The directory looked at is the one each of
/// them takes: the last end record in the file's final 65,557 bytes, and the
/// last one that is consistent, each at its stated offset and where it ends
/// right before its end record; only directories of at most 12 entries are
/// read (none larger is ever extracted). Reads with pread() alone, so the
/// file offset stays; false when the file cannot be read as a zip archive.
bool zipNamesHoldNul(int archiveFd);
