#pragma once
#include <QString>
#include <QStringList>
#include <optional>

#include "base/FileDescriptor.h"
#include "base/Limits.h"

/// What the zip tool's totals line declares about an archive.
struct ArchiveTotals {
  qint64 entries = 0;            ///< number of entries
  qint64 uncompressedBytes = 0;  ///< their total uncompressed size
};

/// Finds the first "N file(s), M bytes uncompressed" in `zipinfoOutput`;
/// nullopt when there is none or a number does not fit a signed 64-bit integer.
std::optional<ArchiveTotals> parseTotalsLine(const QString& zipinfoOutput);

/// Throws HelperError invalidRequest unless the totals line in `zipinfoOutput`
/// declares 1 to 12 entries and at most 62,914,560 bytes uncompressed.
void checkTotals(const QString& zipinfoOutput);

/// The entry names of a one-name-per-line listing: its non-empty lines,
/// exactly as printed.
QStringList parseListing(const QString& listing);

/// True unless `name` begins with "/", holds a backslash or has a ".."
/// component.
bool isSafeListedName(const QString& name);

/// Returns the names of `listing`; throws HelperError invalidRequest unless it
/// names 1 to 12 entries, every one of them safe.
QStringList checkListing(const QString& listing);

/// The package file, opened once: everything after the open reads this file,
/// whatever later happens to its path.
struct InspectedPackage {
  FileDescriptor file;  ///< open read-only on the package, close-on-exec
  QStringList names;    ///< the entry names the zip tool listed, in its order
};

/// Opens `packagePath`, following at most one symbolic link, without waiting
/// for a writer, and throws HelperError invalidRequest ("The skin package is empty
/// or too large.") unless it is a regular file of 1 to 57,671,680 bytes. A
/// failed open is the platform's error.
FileDescriptor openPackage(const QString& packagePath);

/// Throws HelperError invalidRequest ("Choose a .velmora package.") unless
/// `packagePath` ends in ".velmora", in any letter case.
void checkPackageExtension(const QString& packagePath);

/// The zip tool's totals line and listing of the package open on `file`,
/// checked, and that no entry name holds a NUL (zipNamesHoldNul());
/// `packagePath` names it in the tool's messages. Writes nothing.
/// Throws HelperError invalidRequest for a refusal; the platform's and the
/// tool's failures pass through.
InspectedPackage inspectOpenPackage(FileDescriptor file, const QString& packagePath);

/// Decides whether the file at `packagePath` may be extracted: its extension,
/// then, on the file opened once, its size and inspectOpenPackage().
InspectedPackage inspectPackage(const QString& packagePath);
