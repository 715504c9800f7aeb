#include "package/PackageVetting.h"

#include <sys/stat.h>

#include <QFile>
#include <QRegularExpression>
#include <cerrno>

#include "base/HelperError.h"
#include "base/SystemError.h"
#include "engine/ProcessRunner.h"
#include "package/PathText.h"

namespace {

const QString kUnzip = QStringLiteral("/usr/bin/unzip");

[[noreturn]] void refuse(const char* message) {
  throw HelperError::invalidRequest(QString::fromUtf8(message));
}

// Mirrors Info-ZIP's own test: "?", "*" or "[" not escaped by a backslash
// make the archive name a pattern.
bool unzipSeesWildcards(const QString& path) {
  for (qsizetype i = 0; i < path.size(); ++i) {
    const QChar c = path.at(i);
    if (c == u'\\' && i + 1 < path.size()) {
      ++i;
    } else if (c == u'?' || c == u'*' || c == u'[') {
      return true;
    }
  }
  return false;
}

// Each character that Info-ZIP's matcher treats specially, as a one-character
// set. Its sets take "\" as an escape and close at the first "]", so "]" and
// "\" are written escaped inside the brackets.
QString bracketed(QChar c) {
  switch (c.unicode()) {
    case u'[':
      return QStringLiteral("[[]");
    case u']':
      return QStringLiteral("[\\]]");
    case u'*':
      return QStringLiteral("[*]");
    case u'?':
      return QStringLiteral("[?]");
    case u'\\':
      return QStringLiteral("[\\\\]");
    default:
      return QString(c);
  }
}

void checkPackageSize(const QString& packagePath) {
  struct stat info {};
  if (::stat(QFile::encodeName(packagePath).constData(), &info) != 0) {
    throw PlatformError(systemErrorText(packagePath, errno));
  }
  // Only a regular file has a meaningful size; anything else would also make
  // the zip tool block or fail.
  if (!S_ISREG(info.st_mode) || info.st_size < 1 || info.st_size > kMaxPackageBytes) {
    refuse("The skin package is empty or too large.");
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

void checkListing(const QString& listing) {
  const QStringList names = parseListing(listing);
  if (names.size() < 1 || names.size() > kMaxPackageEntries) {
    refuse("The skin package contains an unexpected number of files.");
  }
  for (const QString& name : names) {
    if (!isSafeListedName(name)) refuse("The skin package contains an unsafe path.");
  }
}

QString unzipOperand(const QString& packagePath) {
  QString operand = packagePath;
  // Info-ZIP opens the directory part as it is and matches only the last
  // component against the directory's entries, so only that is escaped.
  if (unzipSeesWildcards(packagePath)) {
    const qsizetype start = packagePath.lastIndexOf(u'/') + 1;
    operand = packagePath.left(start);
    for (qsizetype i = start; i < packagePath.size(); ++i) operand += bracketed(packagePath.at(i));
  }
  if (operand.startsWith(u'-')) operand.prepend(QStringLiteral("./"));
  return operand;
}

void inspectPackage(const QString& packagePath) {
  if (pathExtension(packagePath).toLower() != QStringLiteral("velmora")) {
    refuse("Choose a .velmora package.");
  }
  checkPackageSize(packagePath);
  const QString operand = unzipOperand(packagePath);
  checkTotals(runProcess(kUnzip, {QStringLiteral("-Z"), QStringLiteral("-t"), operand}, true));
  checkListing(runProcess(kUnzip, {QStringLiteral("-Z1"), operand}, true));
}
