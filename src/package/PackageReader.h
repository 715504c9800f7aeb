#pragma once
#include <QString>
#include <memory>

#include "package/PackageThumbnail.h"
#include "request/SkinRequest.h"

/// A package read and ready to be asked about.
struct OpenedPackage {
  SkinRequest request;  ///< its image the extracted file
  /// The reader that waits to decode the image's thumbnail; null when the
  /// image can have none. Ending it stops the reader.
  std::unique_ptr<PackageThumbnail> thumbnail;
};

/// The confined reader's program: installed in the helper's libexec
/// directory, or beside the helper in its build tree.
QString packageReaderProgram();

/// Checks the package at `packagePath` (its extension; a regular file of the
/// right size, opened once, following at most one symbolic link), then has
/// `readerProgram` inspect it, extract it into a fresh UUID-named directory
/// under the temporary directory and read its manifest, confined. Returns
/// the request, whose fields are checked again here, and the thumbnail's
/// reader. Throws HelperError invalidRequest for a refused package, and the
/// tools' or platform's errors unchanged; the directory is removed again
/// after any failure. Blocks until the reader has answered.
OpenedPackage readPackage(const QString& packagePath,
                          const QString& readerProgram = packageReaderProgram());

/// Removes the extraction directory of `request`, which readPackage()
/// returned: for a package that will not be applied.
void discardPackage(const SkinRequest& request);
