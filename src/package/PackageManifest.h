#pragma once
#include <QJsonObject>
#include <QString>

#include "base/Limits.h"
#include "request/SkinRequest.h"

/// The name under which `name` lies at the top of `directory`: `name` itself
/// when it is there, otherwise the one name there equal to it under canonical
/// equivalence and case folding (matchingEntryNames()); `name` unchanged when
/// there is none or more than one, so that looking it up finds nothing.
QString topLevelEntryName(const QString& directory, const QString& name);

/// Reads "theme.json" at the top of the extracted package in `directory`
/// (under that name or the one equivalent to it, a regular file of at most
/// 262,144 bytes, never through a link) and parses it; throws HelperError
/// invalidRequest for a file or document that is not a manifest (a manifest
/// found only in a folder, none at all, an object naming a key twice),
/// PlatformError for a failed file operation or the parser's error.
QJsonObject readManifestObject(const QString& directory);

/// Throws HelperError invalidRequest unless "schemaVersion" is the number 1.
void checkSchemaVersion(const QJsonObject& manifest);

/// Returns "image" when it is a bare file name, free of control characters,
/// with one of the accepted image extensions; throws HelperError
/// invalidRequest otherwise.
QString manifestImageName(const QJsonObject& manifest);

/// Throws unless `directory`/`imageName` is a regular file (not a link) of 1
/// to 16,777,216 bytes: PlatformError when it cannot be examined, HelperError
/// invalidRequest otherwise.
void checkImageFile(const QString& directory, const QString& imageName);

/// Reads the manifest of the package extracted into `directory` and returns
/// the request it describes, its image the file URL of the named image there
/// (found as topLevelEntryName() finds it).
/// The checks run in a fixed order and the first failure is thrown.
SkinRequest readManifest(const QString& directory);
