#include "package/PackageManifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>
#include <QUrl>
#include <cerrno>
#include <optional>

#include "base/FileDescriptor.h"
#include "base/HelperError.h"
#include "base/Limits.h"
#include "base/SystemError.h"
#include "package/PathText.h"
#include "request/Validators.h"

namespace {

const QString kManifestName = QStringLiteral("theme.json");

[[noreturn]] void refuse(const char* message) {
  throw HelperError::invalidRequest(QString::fromUtf8(message));
}

[[noreturn]] void refuseManifestFile() {
  refuse("theme.json is missing or invalid.");
}

// The status of `name` in `directory` itself, not of what a link points to;
// the platform's error, naming the file, when there is none.
struct stat itemStatus(const QString& directory, const QString& name) {
  struct stat info {};
  const QByteArray path = QFile::encodeName(directory + u'/' + name);
  if (::lstat(path.constData(), &info) != 0) throw PlatformError(systemErrorText(name, errno));
  return info;
}

bool hasControlCharacter(const QString& text) {
  for (const QChar c : text) {
    if (c.category() == QChar::Other_Control) return true;
  }
  return false;
}

std::optional<QString> optionalString(const QJsonValue& value) {
  if (!value.isString()) return std::nullopt;
  return value.toString();
}

}  // namespace

QJsonObject readManifestObject(const QString& directory) {
  const struct stat info = itemStatus(directory, kManifestName);
  if (!S_ISREG(info.st_mode) || info.st_size > kMaxManifestBytes) refuseManifestFile();

  // Opened without following a link and checked again on the open file, so
  // nothing swapped in after the check above is read.
  const QByteArray path = QFile::encodeName(directory + u'/' + kManifestName);
  const FileDescriptor file(
      ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ELOOP) refuseManifestFile();
    throw PlatformError(systemErrorText(kManifestName, errno));
  }
  struct stat opened {};
  if (::fstat(file.get(), &opened) != 0) throw PlatformError(systemErrorText(kManifestName, errno));
  if (!S_ISREG(opened.st_mode) || opened.st_size > kMaxManifestBytes) refuseManifestFile();

  QByteArray text(kMaxManifestBytes, Qt::Uninitialized);
  qsizetype length = 0;
  while (length < text.size()) {
    const ssize_t got = ::read(file.get(), text.data() + length, text.size() - length);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw PlatformError(systemErrorText(kManifestName, errno));
    }
    if (got == 0) break;
    length += got;
  }
  text.truncate(length);

  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(text, &error);
  if (error.error != QJsonParseError::NoError) throw PlatformError(error.errorString());
  if (!document.isObject()) refuse("theme.json is not valid JSON.");
  return document.object();
}

void checkSchemaVersion(const QJsonObject& manifest) {
  const QJsonValue version = manifest.value(QStringLiteral("schemaVersion"));
  // A JSON number equal to 1, written 1 or 1.0; a string or true is not one.
  if (!version.isDouble() || version.toDouble() != 1.0) {
    refuse("This skin package uses an unsupported schema version.");
  }
}

QString manifestImageName(const QJsonObject& manifest) {
  const QJsonValue value = manifest.value(QStringLiteral("image"));
  const QString name = value.toString();
  // A control character (a NUL above all, which would cut the path short in
  // the file system's calls) never names a file the package can mean.
  if (!value.isString() || name.isEmpty() || hasControlCharacter(name) ||
      lastPathComponent(name) != name) {
    refuse("The skin image filename is invalid.");
  }
  if (!kPackageImageExtensions.contains(pathExtension(name).toLower())) {
    refuse("The skin image format is unsupported.");
  }
  return name;
}

void checkImageFile(const QString& directory, const QString& imageName) {
  const struct stat info = itemStatus(directory, imageName);
  if (!S_ISREG(info.st_mode) || info.st_size < 1 || info.st_size > kMaxImageBytes) {
    refuse("The skin image is missing or too large.");
  }
}

SkinRequest readManifest(const QString& directory) {
  const QJsonObject manifest = readManifestObject(directory);
  checkSchemaVersion(manifest);
  const QString imageName = manifestImageName(manifest);
  checkImageFile(directory, imageName);

  const QJsonValue colorsValue = manifest.value(QStringLiteral("colors"));
  const QJsonObject colors = colorsValue.isObject() ? colorsValue.toObject() : QJsonObject();
  const QString name = validatedName(optionalString(manifest.value(QStringLiteral("name"))));
  const QString accent =
      validatedColor(optionalString(colors.value(QStringLiteral("accent"))), kDefaultAccent);
  const QString secondary =
      validatedColor(optionalString(colors.value(QStringLiteral("secondary"))), kDefaultSecondary);
  const QString highlight =
      validatedColor(optionalString(colors.value(QStringLiteral("highlight"))), kDefaultHighlight);
  return SkinRequest{name, QUrl::fromLocalFile(directory + u'/' + imageName), accent, secondary,
                     highlight};
}
