// theme.json bytes, read as an extracted package's manifest: a request whose
// image is an accepted file in the package, with a clean name and colours,
// or one of the manifest refusals, or the parser's or file system's error.
// The package directory is made once and holds one image of each kind that
// the image checks tell apart; each input replaces only theme.json.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "FuzzProperties.h"
#include "base/PathText.h"
#include "package/PackageManifest.h"

namespace {

const QStringList kManifestMessages{
    QStringLiteral("theme.json is missing or invalid."),
    QStringLiteral("theme.json is not valid JSON."),
    QStringLiteral("This skin package uses an unsupported schema version."),
    QStringLiteral("The skin image filename is invalid."),
    QStringLiteral("The skin image format is unsupported."),
    QStringLiteral("The skin image is missing or too large."),
    QStringLiteral("The skin contains an invalid color value."),
};

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::abort();
  }
}

// bg.png (a good image), empty.png, huge.png (one byte past the limit, sparse),
// link.png (a link to bg.png), dir.png (a directory) and theme.json itself.
const QString& packageDirectory() {
  static QTemporaryDir root(QDir::tempPath() + QStringLiteral("/velmora-fuzz-manifest-XXXXXX"));
  static const bool made = [] {
    const QDir dir(root.path());
    writeFile(dir.filePath(QStringLiteral("bg.png")), QByteArray("\x89PNG\r\n\x1a\n", 8));
    writeFile(dir.filePath(QStringLiteral("empty.png")), {});
    QFile huge(dir.filePath(QStringLiteral("huge.png")));
    if (!huge.open(QIODevice::WriteOnly) || !huge.resize(kMaxImageBytes + 1)) std::abort();
    if (::symlink("bg.png", QFile::encodeName(dir.filePath(QStringLiteral("link.png")))) != 0) {
      std::abort();
    }
    return dir.mkdir(QStringLiteral("dir.png"));
  }();
  if (!made) std::abort();
  static const QString path = root.path();
  return path;
}

void requireAcceptedImage(const QString& directory, const QUrl& image) {
  const QString path = image.toLocalFile();
  require(image.isLocalFile() && path.startsWith(directory + u'/'),
          "the image is a file in the package", image.toString());
  const QString name = path.mid(directory.size() + 1);
  require(!name.isEmpty() && !name.contains(u'/') && name != u"." && name != u"..",
          "the image is a bare name at the top of the package", name);
  struct stat info {};
  require(::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
              info.st_size >= 1 && info.st_size <= kMaxImageBytes,
          "the image is a regular file of 1 byte to 16 MiB", name);
  static const QStringList kFormats{"png", "jpg", "jpeg", "webp", "heic", "tif", "tiff"};
  require(kFormats.contains(pathExtension(name).toLower()), "the image has an accepted extension",
          name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString& directory = packageDirectory();
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  writeFile(directory + QStringLiteral("/theme.json"), bytes);
  try {
    const SkinRequest request = readManifest(directory);
    requireAcceptedImage(directory, request.image);
    // What was accepted is a JSON object with schema version 1 and a name
    // that cleans to the request's.
    const QJsonObject manifest = QJsonDocument::fromJson(bytes).object();
    require(manifest.value(QStringLiteral("schemaVersion")).toDouble() == 1.0,
            "an accepted manifest has schema version 1", QString::fromUtf8(bytes));
    const QJsonValue name = manifest.value(QStringLiteral("name"));
    requireNameFrom(request.name,
                    name.isString() ? std::optional<QString>(name.toString()) : std::nullopt);
    requireCleanColor(request.accent);
    requireCleanColor(request.secondary);
    requireCleanColor(request.highlight);
  } catch (const HelperError& refusal) {
    requireRefusal(refusal, kManifestMessages);
  } catch (const PlatformError& error) {
    require(!error.localizedDescription().isEmpty(), "a platform error says what went wrong");
  }
  return 0;
}
