#pragma once
#include <QString>

#include "request/SkinRequest.h"

/// Inspects the package at `packagePath`, extracts it into a fresh
/// UUID-named directory under the temporary directory and reads its manifest
/// into a request whose image is the extracted file. Throws HelperError
/// invalidRequest for a refused package, and the tools' or platform's errors
/// unchanged; the directory is removed again after any failure. Runs
/// synchronously.
SkinRequest readPackage(const QString& packagePath);

/// Removes the extraction directory of `request`, which readPackage()
/// returned: for a package that will not be applied.
void discardPackage(const SkinRequest& request);
