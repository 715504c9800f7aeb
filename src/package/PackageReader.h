#pragma once
#include <QString>
#include <exception>
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

/// A package whose reading has begun: the reader runs while the helper does
/// other work (starting up), and its answer is taken when the package is
/// taken up. A package never taken up leaves nothing behind.
class PendingPackage {
 public:
  /// Checks the package at `packagePath` and starts `readerProgram` on it,
  /// as readPackage() does; never throws (a failure is thrown by finish()).
  explicit PendingPackage(const QString& packagePath,
                          const QString& readerProgram = packageReaderProgram());
  PendingPackage(const PendingPackage&) = delete;
  PendingPackage& operator=(const PendingPackage&) = delete;
  /// Stops the reader and removes its directory, unless finish() handed them on.
  ~PendingPackage();

  /// The path given.
  const QString& path() const { return path_; }
  /// Waits for the reader's answer; returns or throws as readPackage().
  /// Call once.
  OpenedPackage finish();

 private:
  QString path_;
  QString directory_;
  std::unique_ptr<ConfinedChild> reader_;
  FileDescriptor answers_{-1};
  FileDescriptor requests_{-1};
  std::exception_ptr failure_;
};

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
