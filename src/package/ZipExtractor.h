#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "base/Limits.h"

/// The components of a zip entry's name to create under the extraction
/// directory, with empty and "." components dropped; nullopt when the name is
/// empty, absolute, holds a backslash or a control character, or has a ".."
/// component.
std::optional<QList<QByteArray>> entryPathComponents(const QByteArray& name);

/// True when a path of `components`, stored as a name of `nameBytes` bytes,
/// stays within the depth and length limits above.
bool isWithinPathLimits(const QList<QByteArray>& components, qsizetype nameBytes);

/// Extracts the zip archive open on `archiveFd` (read from its start) into
/// the existing directory `directory`: files and directories at their
/// relative paths, symbolic links as links. Entry names are read as UTF-8
/// whatever the locale, and one that is not UTF-8 (so not flagged as such)
/// as code page 437. Nothing is created or opened through a symbolic link,
/// the bytes written stay within each entry's declared size and
/// kMaxExpandedBytes in all, and at most kMaxExtractedDirectories directories
/// are made. Refuses other archive formats, more than kMaxPackageEntries
/// entries, unsafe names, paths past the limits above, encrypted entries,
/// hard links, devices, and conflicting paths. An entry stored as a FIFO
/// reaches the extractor as a plain file, and is written as one. When
/// `listedNames` is given (the names the archive's directory lists, in
/// order, as the zip tool prints them), every entry must be the next of them,
/// under the same name as stored or as the tool translates a name of an
/// archive made on MS-DOS (dosListedName()), and none may be missing.
/// Throws HelperError processFailed ("The skin package could not be
/// extracted: " and the reason); what was written before stays.
void extractZip(int archiveFd, const QString& directory,
                const std::optional<QStringList>& listedNames = std::nullopt);

/// extractZip() on the file at `archivePath`, opened without following a link.
void extractZip(const QString& archivePath, const QString& directory);
