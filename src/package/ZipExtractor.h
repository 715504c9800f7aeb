#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

/// The components of a zip entry's name to create under the extraction
/// directory, with empty and "." components dropped; nullopt when the name is
/// empty, absolute, holds a backslash or a control character, or has a ".."
/// component.
std::optional<QList<QByteArray>> entryPathComponents(const QByteArray& name);

/// Extracts the zip archive at `archivePath` into the existing directory
/// `directory`: files and directories at their relative paths, symbolic links
/// as links. Nothing is created or opened through a symbolic link, and the
/// bytes written stay within each entry's declared size and 62,914,560 in
/// all. Refuses other archive formats, more than 12 entries, unsafe names,
/// encrypted entries, hard links, devices and FIFOs, and conflicting paths.
/// Throws HelperError processFailed ("The skin package could not be
/// extracted: " and the reason); what was written before stays.
void extractZip(const QString& archivePath, const QString& directory);
