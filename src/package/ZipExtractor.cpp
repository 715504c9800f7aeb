#include "package/ZipExtractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStringDecoder>
#include <cerrno>
#include <memory>
#include <vector>

#include "base/FileDescriptor.h"
#include "base/HelperError.h"
#include "package/EntryNames.h"
#include "package/PackageVetting.h"
#include "package/Utf8Locale.h"

namespace {

constexpr size_t kReadBlock = 64 * 1024;

[[noreturn]] void failExtraction(const QString& reason) {
  QString text = QStringLiteral("The skin package could not be extracted: ") + reason;
  if (!text.endsWith(u'.')) text += u'.';
  throw HelperError::processFailed(text);
}

[[noreturn]] void refuseErrno(int errorNumber) {
  failExtraction(qt_error_string(errorNumber));
}

[[noreturn]] void refuseArchive(archive* reader) {
  const char* text = archive_error_string(reader);
  const QString reason = text != nullptr ? QString::fromUtf8(text).trimmed() : QString();
  failExtraction(reason.isEmpty() ? QStringLiteral("the archive is damaged") : reason);
}

// Refuses a failed create or open of a path component in the words that fit
// what stood in the way.
[[noreturn]] void refusePathError(int errorNumber) {
  switch (errorNumber) {
    case EEXIST:
    case ENOTDIR:
    case EISDIR:
      failExtraction("two entries have conflicting paths.");
    default:
      refuseErrno(errorNumber);
  }
}

// The name an entry is written under. A name flagged as UTF-8 has been
// checked as such by the reader, so one that is not UTF-8 is unflagged, and
// the zip format's encoding for those is code page 437 (as Windows' own
// archiver writes them); an unflagged name that is UTF-8 stays as it is, as
// the zip tools of other systems store their names.
QByteArray fileSystemName(const QByteArray& stored) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  // Decoded only to learn whether it is UTF-8; a valid name is kept byte for
  // byte (a leading byte order mark included).
  const QString decoded = utf8.decode(stored);
  return utf8.hasError() ? decodeCp437(stored).toUtf8() : stored;
}

struct ReaderDeleter {
  void operator()(archive* reader) const { archive_read_free(reader); }
};

// Opens the directory `name` inside `parent`, creating it first when it is
// not there, and counts it in `made`; one past the limit is never created.
// Never follows a symbolic link: an entry that would be written through one
// is refused.
FileDescriptor enterDirectory(int parent, const QByteArray& name, int& made) {
  struct stat existing {};
  if (::fstatat(parent, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) refusePathError(errno);
    if (made >= kMaxExtractedDirectories)
      failExtraction("the package creates too many directories.");
    if (::mkdirat(parent, name.constData(), 0755) != 0) refusePathError(errno);
    ++made;
  }
  FileDescriptor child(
      ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (child.get() < 0) {
    const int openError = errno;
    struct stat info {};
    if (::fstatat(parent, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode)) {
      failExtraction("an entry lies behind a symbolic link.");
    }
    refusePathError(openError);
  }
  return child;
}

// Opens the directory that will hold the last component, creating every
// component before it.
FileDescriptor enterParents(int root, const QList<QByteArray>& components, qsizetype count,
                            int& made) {
  FileDescriptor current(::dup(root));
  if (current.get() < 0) refuseErrno(errno);
  for (qsizetype i = 0; i < count; ++i) {
    current = enterDirectory(current.get(), components.at(i), made);
  }
  return current;
}

void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      refuseErrno(errno);
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

/// Walks the archive's entries and writes each one, keeping the running
/// totals that the limits apply to.
class Extraction {
 public:
  Extraction(archive* reader, int root, const std::optional<QStringList>& listed)
      : reader_(reader), root_(root), listed_(listed), buffer_(kReadBlock) {}

  void run() {
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_, &entry);
      if (status == ARCHIVE_EOF) {
        if (listed_ && entries_ != listed_->size()) refuseUnlisted();
        return;
      }
      // A warning here is a name that could not be converted or a header
      // that disagrees with itself: neither is extracted.
      if (status != ARCHIVE_OK) refuseArchive(reader_);
      if (++entries_ > kMaxPackageEntries) failExtraction("the package holds too many entries.");
      extractEntry(entry);
    }
  }

 private:
  [[noreturn]] static void refuseUnlisted() {
    failExtraction("an entry differs from the archive's directory.");
  }

  // The archive's directory and the header in front of each entry's data
  // both carry its name, and a reader may take either. The directory is
  // what was inspected, so an entry is extracted only under the name listed
  // there, in the same place. The listing is the zip tool's text, read with
  // each byte that is not UTF-8 replaced: it shows a name as stored, or, for
  // an archive made on MS-DOS or Windows, with every byte from 0x80
  // translated from the OEM code page, the UTF-8 flag notwithstanding. Either
  // reading of the stored bytes is the same name: neither translation makes
  // or removes a "/", "." or "\\", so the paths inspected are the paths
  // written. A directory's name may have gained its "/" here.
  void checkListed(const QByteArray& stored) const {
    if (!listed_) return;
    if (entries_ > listed_->size()) refuseUnlisted();
    const QString& expected = listed_->at(entries_ - 1);
    const auto isListed = [&expected](const QString& read) {
      return read == expected || read == expected + u'/';
    };
    if (!isListed(QString::fromUtf8(stored)) && !isListed(dosListedName(stored))) {
      refuseUnlisted();
    }
  }

  void extractEntry(archive_entry* entry) {
    const char* pathname = archive_entry_pathname(entry);
    const QByteArray stored = pathname != nullptr ? QByteArray(pathname) : QByteArray();
    const QByteArray name = fileSystemName(stored);
    const std::optional<QList<QByteArray>> components = entryPathComponents(name);
    if (!components) failExtraction("an entry has an unsafe path.");
    checkListed(stored);
    if (!isWithinPathLimits(*components, name.size())) {
      failExtraction("an entry's path is too deep or too long.");
    }
    if (archive_entry_hardlink(entry) != nullptr) failExtraction("an entry is a hard link.");
    if (archive_entry_is_encrypted(entry)) failExtraction("an entry is encrypted.");

    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFDIR) {
      FileDescriptor current(::dup(root_));
      if (current.get() < 0) refuseErrno(errno);
      for (const QByteArray& component : *components) {
        current = enterDirectory(current.get(), component, directoriesMade_);
      }
      return;
    }
    if (type != AE_IFREG && type != AE_IFLNK) {
      failExtraction("an entry is not a file, a directory or a symbolic link.");
    }
    if (components->isEmpty()) failExtraction("an entry has an unsafe path.");
    const FileDescriptor parent =
        enterParents(root_, *components, components->size() - 1, directoriesMade_);
    const QByteArray& last = components->constLast();
    if (type == AE_IFLNK) {
      writeLink(entry, parent.get(), last);
    } else {
      writeFile(entry, parent.get(), last);
    }
  }

  // The link is made as it is stored; nothing here or later resolves it.
  void writeLink(archive_entry* entry, int parent, const QByteArray& name) {
    const char* target = archive_entry_symlink(entry);
    if (target == nullptr || *target == '\0') failExtraction("a symbolic link has no target.");
    if (::symlinkat(target, parent, name.constData()) != 0) refusePathError(errno);
  }

  void writeFile(archive_entry* entry, int parent, const QByteArray& name) {
    if (!archive_entry_size_is_set(entry)) failExtraction("an entry does not declare its size.");
    const qint64 declared = archive_entry_size(entry);
    const FileDescriptor file(::openat(parent, name.constData(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.get() < 0) refusePathError(errno);
    qint64 written = 0;
    for (;;) {
      const la_ssize_t size = archive_read_data(reader_, buffer_.data(), buffer_.size());
      if (size < 0) refuseArchive(reader_);
      if (size == 0) {
        // A body that ends before its declared size (an archive read from
        // its local headers alone can say so without any error) would leave
        // a cut-short file behind as if it were whole.
        if (written != declared) failExtraction("an entry is shorter than it declares.");
        return;
      }
      // Checked before the block is written, so the file never holds more
      // than its entry declares nor the package more than the limit.
      if (size > declared - written) failExtraction("an entry is larger than it declares.");
      if (size > kMaxExpandedBytes - total_)
        failExtraction("the package expands beyond the safety limit.");
      writeAll(file.get(), buffer_.data(), static_cast<size_t>(size));
      written += size;
      total_ += size;
    }
  }

  archive* reader_;
  int root_;
  const std::optional<QStringList>& listed_;
  std::vector<char> buffer_;
  qint64 entries_ = 0;
  qint64 total_ = 0;
  int directoriesMade_ = 0;
};

bool isControlByte(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

std::optional<QList<QByteArray>> entryPathComponents(const QByteArray& name) {
  if (name.isEmpty() || name.startsWith('/') || name.contains('\\')) return std::nullopt;
  for (qsizetype i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name.at(i));
    if (isControlByte(byte)) return std::nullopt;
    // U+0080 to U+009F, the C1 controls, in UTF-8.
    if (byte == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name.at(i + 1)) >= 0x80 &&
        static_cast<unsigned char>(name.at(i + 1)) <= 0x9F) {
      return std::nullopt;
    }
  }
  QList<QByteArray> components;
  for (const QByteArray& piece : name.split('/')) {
    if (piece == "..") return std::nullopt;
    if (piece.isEmpty() || piece == ".") continue;
    components.append(piece);
  }
  return components;
}

bool isWithinPathLimits(const QList<QByteArray>& components, qsizetype nameBytes) {
  if (components.size() > kMaxEntryPathComponents || nameBytes > kMaxEntryPathBytes) return false;
  for (const QByteArray& component : components) {
    if (component.size() > kMaxEntryComponentBytes) return false;
  }
  return true;
}

void extractZip(int archiveFd, const QString& directory,
                const std::optional<QStringList>& listedNames) {
  const FileDescriptor root(::open(QFile::encodeName(directory).constData(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (root.get() < 0) refuseErrno(errno);
  if (::lseek(archiveFd, 0, SEEK_SET) != 0) refuseErrno(errno);

  // Made before the reader, which settles its encodings when it is created.
  const Utf8Names utf8Names;
  const std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
  if (!reader) refuseErrno(ENOMEM);
  // Zip alone: no other format and no compression filter around it. Every
  // entry is an entry on every system (macOS would otherwise fold its
  // "__MACOSX/" resource forks into other entries).
  archive_read_support_format_zip(reader.get());
  archive_read_set_format_option(reader.get(), "zip", "mac-ext", nullptr);
  if (archive_read_open_fd(reader.get(), archiveFd, kReadBlock) != ARCHIVE_OK) {
    refuseArchive(reader.get());
  }
  Extraction(reader.get(), root.get(), listedNames).run();
}

void extractZip(const QString& archivePath, const QString& directory) {
  const FileDescriptor archiveFile(::open(QFile::encodeName(archivePath).constData(),
                                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (archiveFile.get() < 0) refuseErrno(errno);
  extractZip(archiveFile.get(), directory);
}
