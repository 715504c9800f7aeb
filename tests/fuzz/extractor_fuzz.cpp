// The extractor on arbitrary archive bytes, each input in a fresh directory
// with a canary directory beside it: nothing is created outside the
// directory, nothing is written through a symbolic link, at most 62,914,560
// bytes are written, at most 64 directories are made, no path made is deeper
// than 16 components or longer than 1,024 bytes, and a refusal is the
// extractor's own error. After each input everything it made is removed again.
// The scan for entry names holding a NUL runs on the same bytes.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <ftw.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "FuzzProperties.h"
#include "package/EntryNames.h"
#include "package/PackageVetting.h"
#include "package/ZipDirectory.h"
#include "package/ZipExtractor.h"

namespace {

const QString kExtractPrefix = QStringLiteral("The skin package could not be extracted: ");

/// The per-process layout: base/archive.zip, base/canary/keep.txt and, for
/// each input, base/work.
struct Layout {
  QString base;
  QString archive;
  QString canary;
  QString work;
};

const Layout& layout() {
  static QTemporaryDir base(QDir::tempPath() + QStringLiteral("/velmora-fuzz-extract-XXXXXX"));
  static const Layout made = [] {
    // The archive's own names below are read as the extractor reads them.
    ::setlocale(LC_ALL, "C.UTF-8");
    Layout l{base.path(), base.filePath(QStringLiteral("archive.zip")),
             base.filePath(QStringLiteral("canary")), base.filePath(QStringLiteral("work"))};
    QDir().mkpath(l.canary);
    QFile keep(l.canary + QStringLiteral("/keep.txt"));
    if (!keep.open(QIODevice::WriteOnly) || keep.write("canary\n") != 7) std::abort();
    return l;
  }();
  return made;
}

/// What a physical walk (never through a link) finds under a directory.
struct Found {
  QMap<QByteArray, mode_t> items;  // relative path, as the file system has it → file type
  qint64 regularBytes = 0;
};

Found* walking = nullptr;
qsizetype walkRootLength = 0;

int collect(const char* path, const struct stat* info, int, struct FTW*) {
  const QByteArray relative = QByteArray(path).mid(walkRootLength);
  if (relative.isEmpty()) return 0;
  walking->items.insert(relative.mid(1), info->st_mode & S_IFMT);
  if (S_ISREG(info->st_mode)) walking->regularBytes += info->st_size;
  return 0;
}

Found walk(const QString& root) {
  Found found;
  walking = &found;
  walkRootLength = QFile::encodeName(root).size();
  if (::nftw(QFile::encodeName(root).constData(), collect, 16, FTW_PHYS) != 0) std::abort();
  walking = nullptr;
  return found;
}

int removeItem(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path) == 0 ? 0 : -1;
}

void removeTree(const QString& root) {
  if (::nftw(QFile::encodeName(root).constData(), removeItem, 16, FTW_DEPTH | FTW_PHYS) != 0) {
    std::abort();
  }
}

/// What the archive's own headers say, read apart from the extraction.
struct Entries {
  QSet<QByteArray> paths;              // every entry's path and its parents
  QMap<QByteArray, qint64> fileSizes;  // each regular file's declared size
};

/// An entry's name as a path: as stored when it is UTF-8 (it decodes and
/// encodes back to the same bytes; behind a letter, so that a leading byte
/// order mark is kept), otherwise read as code page 437.
QByteArray pathOf(const QByteArray& stored) {
  const QByteArray probe = "x" + stored;
  return QString::fromUtf8(probe).toUtf8() == probe ? stored : decodeCp437(stored).toUtf8();
}

/// Every path the archive's entries stand for, with their parents: the only
/// paths a walk after extraction may find.
Entries archiveEntries(const QString& archivePath) {
  Entries entries;
  archive* reader = archive_read_new();
  archive_read_support_format_zip(reader);
  if (archive_read_open_filename(reader, QFile::encodeName(archivePath).constData(), 65536) ==
      ARCHIVE_OK) {
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
      const char* name = archive_entry_pathname(entry);
      const auto components =
          entryPathComponents(pathOf(name != nullptr ? QByteArray(name) : QByteArray()));
      if (!components) continue;
      QByteArray path;
      for (const QByteArray& component : *components) {
        path += (path.isEmpty() ? QByteArray() : QByteArray("/")) + component;
        entries.paths.insert(path);
      }
      if (archive_entry_filetype(entry) == AE_IFREG && archive_entry_size_is_set(entry)) {
        entries.fileSizes.insert(path, archive_entry_size(entry));
      }
    }
  }
  archive_read_free(reader);
  return entries;
}

void writeArchive(const QString& path, const uint8_t* data, size_t size) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Layout& l = layout();
  writeArchive(l.archive, data, size);
  if (::mkdir(QFile::encodeName(l.work).constData(), 0700) != 0) std::abort();

  // The scan for names holding a NUL reads the same bytes on its own: it
  // must end, and leave the file offset where it was.
  {
    const int fd = ::open(QFile::encodeName(l.archive).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    zipNamesHoldNul(fd);
    require(::lseek(fd, 0, SEEK_CUR) == 0, "the NUL scan leaves the file offset");
    ::close(fd);
  }

  bool extracted = true;
  try {
    extractZip(l.archive, l.work);
  } catch (const HelperError& refusal) {
    extracted = false;
    require(refusal.errorCase() == HelperError::Case::processFailed &&
                refusal.localizedDescription().startsWith(kExtractPrefix),
            "a refused archive is the extractor's own error", refusal.localizedDescription());
  }

  // Beside the work directory there is still exactly the archive and the canary.
  const Found beside = walk(l.base);
  for (auto item = beside.items.cbegin(); item != beside.items.cend(); ++item) {
    const QByteArray& path = item.key();
    require(path == "archive.zip" || path == "canary" || path == "canary/keep.txt" ||
                path == "work" || path.startsWith("work/"),
            "nothing is created outside the extraction directory", QString::fromUtf8(path));
  }
  require(beside.items.value("canary/keep.txt") == S_IFREG &&
              QFileInfo(l.canary + QStringLiteral("/keep.txt")).size() == 7,
          "the canary beside the directory is untouched");

  const Found inside = walk(l.work);
  require(inside.regularBytes <= kMaxExpandedBytes, "at most 62,914,560 bytes are written",
          QString::number(inside.regularBytes));
  // A write through a link would show up at a path no entry names.
  const Entries named = archiveEntries(l.archive);
  int directories = 0;
  for (auto item = inside.items.cbegin(); item != inside.items.cend(); ++item) {
    if (item.value() == S_IFDIR) ++directories;
    require(item.key().count('/') + 1 <= kMaxEntryPathComponents &&
                item.key().size() <= kMaxEntryPathBytes,
            "no path made is deeper than 16 components or longer than 1,024 bytes",
            QString::fromUtf8(item.key()));
    require(named.paths.contains(item.key()), "every item made is at a path the archive names",
            QString::fromUtf8(item.key()));
    const mode_t type = item.value();
    require(type == S_IFREG || type == S_IFDIR || type == S_IFLNK,
            "only files, directories and links are made", QString::fromUtf8(item.key()));
  }
  require(directories <= kMaxExtractedDirectories, "at most 64 directories are made",
          QString::number(directories));
  // A package that extracts without complaint holds every file whole.
  if (extracted) {
    for (auto file = named.fileSizes.cbegin(); file != named.fileSizes.cend(); ++file) {
      struct stat info {};
      const QByteArray path = QFile::encodeName(l.work) + '/' + file.key();
      require(::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
                  info.st_size == file.value(),
              "an extracted file has the size its entry declares", QString::fromUtf8(file.key()));
    }
  }
  removeTree(l.work);
  return 0;
}
