#pragma once
#include <QJsonObject>
#include <QString>

#include "base/Limits.h"
#include "request/SkinRequest.h"

/// Reads "theme.json" at the top of the extracted package in `directory`
/// (a regular file of at most 262,144 bytes, never through a link) and parses
/// it; throws HelperError invalidRequest for a file or document that is not a
/// manifest, PlatformError for a failed file operation or the parser's error.
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
/// the request it describes, its image the file URL of the named image there.
/// The checks run in a fixed order and the first failure is thrown.
SkinRequest readManifest(const QString& directory);
