#include "package/PackageManifest.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSet>
#include <QStringDecoder>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "base/FileDescriptor.h"
#include "base/HelperError.h"
#include "base/Limits.h"
#include "base/PathText.h"
#include "base/SystemError.h"
#include "package/EntryNames.h"
#include "request/Validators.h"

namespace {

const QString kManifestName = QStringLiteral("theme.json");

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

// The names in `directory` itself that are UTF-8; none when it cannot be
// read. A name that is not UTF-8 can be no name a manifest writes.
QStringList namesIn(const QString& directory) {
  QStringList names;
  DIR* stream = ::opendir(QFile::encodeName(directory).constData());
  if (stream == nullptr) return names;
  while (const dirent* item = ::readdir(stream)) {
    const QByteArray name(item->d_name);
    if (name == "." || name == "..") continue;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(name);
    if (!utf8.hasError() && QFile::encodeName(text) == name) names.append(text);
  }
  ::closedir(stream);
  return names;
}

// The folder, relative to `directory` and ending in "/", nearest the top
// that holds a theme.json; macOS's "__MACOSX/" resource forks do not count.
std::optional<QString> folderHoldingManifest(const QString& directory) {
  QStringList folders;
  QDirIterator it(
      directory, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot,
      QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString relative = QDir(directory).relativeFilePath(it.next());
    if (relative.section(u'/', 0, 0) != QStringLiteral("__MACOSX")) folders.append(relative);
  }
  std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
    return a.count(u'/') != b.count(u'/') ? a.count(u'/') < b.count(u'/') : a < b;
  });
  for (const QString& folder : folders) {
    if (!matchingEntryNames(kManifestName, namesIn(directory + u'/' + folder)).isEmpty()) {
      return folder + u'/';
    }
  }
  return std::nullopt;
}

// The name under which the manifest lies at the top of `directory`; a
// manifest that is only further down, or nowhere, is refused in words that
// say so.
QString manifestEntryName(const QString& directory) {
  const QStringList found = matchingEntryNames(kManifestName, namesIn(directory));
  if (found.size() == 1) return found.first();
  if (found.size() > 1) refuseManifestFile();
  if (const std::optional<QString> folder = folderHoldingManifest(directory)) {
    throw HelperError::invalidRequest(
        QStringLiteral("theme.json is not at the top of the package; it is in %1. Zip the "
                       "skin's files, not their folder.")
            .arg(*folder));
  }
  refuse("The skin package has no theme.json.");
}

// The characters of the JSON string whose opening quote is at `at` in the
// document `text`, which the parser has accepted, and the index of its
// closing quote (or of the end) in `end`.
QString jsonString(const QByteArray& text, qsizetype at, qsizetype& end) {
  QString value;
  qsizetype run = at + 1;  // start of the current stretch without escapes
  qsizetype i = at + 1;
  while (i < text.size() && text.at(i) != '"') {
    if (text.at(i) != '\\' || i + 1 >= text.size()) {
      ++i;
      continue;
    }
    value += QString::fromUtf8(text.mid(run, i - run));
    const char escape = text.at(i + 1);
    if (escape == 'u') {
      value += QChar(text.mid(i + 2, 4).toUShort(nullptr, 16));
      i += 6;
    } else {
      static const QByteArray from = "bfnrt";
      static const QByteArray to = "\b\f\n\r\t";
      const qsizetype index = from.indexOf(escape);
      value += QLatin1Char(index >= 0 ? to.at(index) : escape);
      i += 2;
    }
    run = i;
  }
  value += QString::fromUtf8(text.mid(run, i - run));
  end = i;
  return value;
}

// True when an object anywhere in the valid document `text` names one key
// twice. The parser keeps the last of them and another reader may keep the
// first, so such a manifest means nothing for certain.
bool hasDuplicateKey(const QByteArray& text) {
  struct Level {
    bool object = false;
    bool expectingKey = false;
    QSet<QString> keys;
  };
  std::vector<Level> levels;
  for (qsizetype i = 0; i < text.size(); ++i) {
    switch (text.at(i)) {
      case '{':
        levels.push_back(Level{true, true, {}});
        break;
      case '[':
        levels.push_back(Level{});
        break;
      case '}':
      case ']':
        if (!levels.empty()) levels.pop_back();
        break;
      case ',':
        if (!levels.empty()) levels.back().expectingKey = levels.back().object;
        break;
      case ':':
        if (!levels.empty()) levels.back().expectingKey = false;
        break;
      case '"': {
        qsizetype end = i;
        const QString value = jsonString(text, i, end);
        i = end;
        if (levels.empty() || !levels.back().expectingKey) break;
        if (levels.back().keys.contains(value)) return true;
        levels.back().keys.insert(value);
        break;
      }
      default:
        break;
    }
  }
  return false;
}

}  // namespace

QString topLevelEntryName(const QString& directory, const QString& name) {
  const QStringList found = matchingEntryNames(name, namesIn(directory));
  return found.size() == 1 ? found.first() : name;
}

QJsonObject readManifestObject(const QString& directory) {
  const QString manifestName = manifestEntryName(directory);
  const struct stat info = itemStatus(directory, manifestName);
  if (!S_ISREG(info.st_mode) || info.st_size > kMaxManifestBytes) refuseManifestFile();

  // Opened without following a link and checked again on the open file, so
  // nothing swapped in after the check above is read.
  const QByteArray path = QFile::encodeName(directory + u'/' + manifestName);
  const FileDescriptor file(
      ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ELOOP) refuseManifestFile();
    throw PlatformError(systemErrorText(manifestName, errno));
  }
  struct stat opened {};
  if (::fstat(file.get(), &opened) != 0) throw PlatformError(systemErrorText(manifestName, errno));
  if (!S_ISREG(opened.st_mode) || opened.st_size > kMaxManifestBytes) refuseManifestFile();

  QByteArray text(kMaxManifestBytes, Qt::Uninitialized);
  qsizetype length = 0;
  while (length < text.size()) {
    const ssize_t got = ::read(file.get(), text.data() + length, text.size() - length);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw PlatformError(systemErrorText(manifestName, errno));
    }
    if (got == 0) break;
    length += got;
  }
  text.truncate(length);

  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(text, &error);
  if (error.error != QJsonParseError::NoError) throw PlatformError(error.errorString());
  if (!document.isObject() || hasDuplicateKey(text)) refuse("theme.json is not valid JSON.");
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
  const QString imageName = topLevelEntryName(directory, manifestImageName(manifest));
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
