#include "package/PackageVetting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <cerrno>

#include "base/HelperError.h"
#include "base/PathBytes.h"
#include "base/PathText.h"
#include "base/ProcessRunner.h"
#include "base/SystemError.h"
#include "package/Utf8Locale.h"
#include "package/ZipDirectory.h"

namespace {

const QString kUnzip = QStringLiteral("/usr/bin/unzip");

// The name under which a child process reaches the open package: a
// duplicate of it without close-on-exec, so that the zip tool inherits it and
// reads the very file that was opened, never what its path names by then.
class ChildHandle {
 public:
  explicit ChildHandle(int fd) : handle_(::dup(fd)) {
    if (handle_.get() < 0) throw PlatformError(qt_error_string(errno));
  }
  QString path() const { return QStringLiteral("/dev/fd/%1").arg(handle_.get()); }

 private:
  FileDescriptor handle_;
};

// Runs the zip tool on the open package. Its failures name the package by
// its path, as the user knows it, not by the handle it was given.
QString runUnzip(const QString& packagePath, const ChildHandle& handle, QStringList arguments,
                 OutputText text) {
  const QString operand = handle.path();
  arguments.append(operand);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  // The zip tool prints a UTF-8 name as it is only under a UTF-8 locale (under
  // "C" it writes an escape such as "#U00e7" instead), so it always runs under
  // one, whatever the helper's own locale.
  environment.insert(QStringLiteral("LC_ALL"), utf8LocaleName());
  try {
    return runProcess(kUnzip, arguments, true, text, environment);
  } catch (const HelperError& failure) {
    if (failure.errorCase() != HelperError::Case::processFailed) throw;
    throw HelperError::processFailed(
        QString(failure.localizedDescription()).replace(operand, packagePath));
  }
}

}  // namespace

std::optional<ArchiveTotals> parseTotalsLine(const QString& zipinfoOutput) {
  static const QRegularExpression pattern(
      QStringLiteral("([0-9]+) files?, ([0-9]+) bytes uncompressed"));
  const QRegularExpressionMatch match = pattern.match(zipinfoOutput);
  if (!match.hasMatch()) return std::nullopt;
  bool entriesOk = false;
  bool bytesOk = false;
  ArchiveTotals totals;
  totals.entries = match.captured(1).toLongLong(&entriesOk, 10);
  totals.uncompressedBytes = match.captured(2).toLongLong(&bytesOk, 10);
  if (!entriesOk || !bytesOk) return std::nullopt;
  return totals;
}

void checkTotals(const QString& zipinfoOutput) {
  const std::optional<ArchiveTotals> totals = parseTotalsLine(zipinfoOutput);
  if (!totals || totals->entries < 1 || totals->entries > kMaxPackageEntries ||
      totals->uncompressedBytes > kMaxExpandedBytes) {
    refuse("The skin package expands beyond the safety limit.");
  }
}

QStringList parseListing(const QString& listing) {
  return listing.split(u'\n', Qt::SkipEmptyParts);
}

bool isSafeListedName(const QString& name) {
  if (name.startsWith(u'/') || name.contains(u'\\')) return false;
  return !name.split(u'/').contains(QStringLiteral(".."));
}

QStringList checkListing(const QString& listing) {
  const QStringList names = parseListing(listing);
  if (names.size() < 1 || names.size() > kMaxPackageEntries) {
    refuse("The skin package contains an unexpected number of files.");
  }
  for (const QString& name : names) {
    if (!isSafeListedName(name)) refuse("The skin package contains an unsafe path.");
  }
  return names;
}

FileDescriptor openPackage(const QString& packagePath) {
  // Non-blocking, so that a FIFO in the package's place never waits for a
  // writer; it is refused below like anything else that is not a file.
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  const QByteArray path = pathBytes(packagePath);
  FileDescriptor file(::open(path.constData(), kFlags));
  if (file.get() < 0 && errno == ELOOP) {
    // A link to a package (a shortcut on the desktop, a download folder's
    // alias) is followed once, to what it names; a chain of links is not.
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t length = ::readlink(path.constData(), target.data(), size_t(target.size()));
    if (length < 0 || length == target.size()) {
      throw PlatformError(systemErrorText(packagePath, length < 0 ? errno : ENAMETOOLONG));
    }
    target.truncate(length);
    if (!target.startsWith('/')) {
      const qsizetype slash = path.lastIndexOf('/');
      if (slash >= 0) target.prepend(path.left(slash + 1));
    }
    file = FileDescriptor(::open(target.constData(), kFlags));
  }
  if (file.get() < 0) {
    if (errno == ELOOP) refuse("The skin package is empty or too large.");
    throw PlatformError(systemErrorText(packagePath, errno));
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw PlatformError(systemErrorText(packagePath, errno));
  // Only a regular file has a meaningful size.
  if (!S_ISREG(info.st_mode) || info.st_size < 1 || info.st_size > kMaxPackageBytes) {
    refuse("The skin package is empty or too large.");
  }
  return file;
}

InspectedPackage inspectPackage(const QString& packagePath) {
  checkPackageExtension(packagePath);
  return inspectOpenPackage(openPackage(packagePath), packagePath);
}

void checkPackageExtension(const QString& packagePath) {
  if (pathExtension(packagePath).toLower() != QStringLiteral("velmora")) {
    refuse("Choose a .velmora package.");
  }
}

InspectedPackage inspectOpenPackage(FileDescriptor file, const QString& packagePath) {
  InspectedPackage package{std::move(file), {}};
  const ChildHandle handle(package.file.get());
  checkTotals(runUnzip(packagePath, handle, {QStringLiteral("-Z"), QStringLiteral("-t")},
                       OutputText::strictUtf8));
  // Entry names need not be UTF-8 (code-page names): each line stays one
  // name, its invalid bytes replaced, and is counted and checked as usual.
  package.names = checkListing(
      runUnzip(packagePath, handle, {QStringLiteral("-Z1")}, OutputText::replaceInvalid));
  // The zip tool lists "evil\0.png" as "evil", and the extractor would write
  // it so; what follows the NUL was never inspected.
  if (zipNamesHoldNul(package.file.get())) refuse("The skin package contains an unsafe path.");
  return package;
}
