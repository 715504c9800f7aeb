#pragma once
#include <QString>
#include <QStringList>
#include <optional>

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

/// Throws HelperError invalidRequest unless `listing` names 1 to 12 entries,
/// every one of them safe.
void checkListing(const QString& listing);

/// The package path as an archive operand for Info-ZIP unzip, which reads
/// wildcards in an archive's name: when unzip would treat the path as a
/// pattern, the special characters of its last component are bracketed so that
/// it matches only itself. A path beginning with "-" gets a "./" in front.
QString unzipOperand(const QString& packagePath);

/// Decides whether the file at `packagePath` may be extracted: its extension,
/// its size, then the zip tool's totals line and listing. Writes nothing.
/// Throws HelperError invalidRequest for a refusal; the platform's and the
/// tool's failures pass through.
void inspectPackage(const QString& packagePath);
