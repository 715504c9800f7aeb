#include "package/ZipExtractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <memory>
#include <vector>

#include "base/FileDescriptor.h"
#include "base/HelperError.h"
#include "package/PackageVetting.h"

namespace {

constexpr size_t kReadBlock = 64 * 1024;

[[noreturn]] void refuse(const QString& reason) {
  QString text = QStringLiteral("The skin package could not be extracted: ") + reason;
  if (!text.endsWith(u'.')) text += u'.';
  throw HelperError::processFailed(text);
}

[[noreturn]] void refuse(const char* reason) {
  refuse(QString::fromUtf8(reason));
}

[[noreturn]] void refuseErrno(int errorNumber) {
  refuse(qt_error_string(errorNumber));
}

[[noreturn]] void refuseArchive(archive* reader) {
  const char* text = archive_error_string(reader);
  const QString reason = text != nullptr ? QString::fromUtf8(text).trimmed() : QString();
  refuse(reason.isEmpty() ? QStringLiteral("the archive is damaged") : reason);
}

// Refuses a failed create or open of a path component in the words that fit
// what stood in the way.
[[noreturn]] void refusePathError(int errorNumber) {
  switch (errorNumber) {
    case EEXIST:
    case ENOTDIR:
    case EISDIR:
      refuse("two entries have conflicting paths.");
    default:
      refuseErrno(errorNumber);
  }
}

struct ReaderDeleter {
  void operator()(archive* reader) const { archive_read_free(reader); }
};

// Opens the directory `name` inside `parent`, creating it first when it is
// not there. Never follows a symbolic link: an entry that would be written
// through one is refused.
FileDescriptor enterDirectory(int parent, const QByteArray& name) {
  if (::mkdirat(parent, name.constData(), 0755) != 0 && errno != EEXIST) refusePathError(errno);
  FileDescriptor child(
      ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (child.get() < 0) {
    const int openError = errno;
    struct stat info {};
    if (::fstatat(parent, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode)) {
      refuse("an entry lies behind a symbolic link.");
    }
    refusePathError(openError);
  }
  return child;
}

// Opens the directory that will hold the last component, creating every
// component before it.
FileDescriptor enterParents(int root, const QList<QByteArray>& components) {
  FileDescriptor current(::dup(root));
  if (current.get() < 0) refuseErrno(errno);
  for (qsizetype i = 0; i + 1 < components.size(); ++i) {
    current = enterDirectory(current.get(), components.at(i));
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
  Extraction(archive* reader, int root) : reader_(reader), root_(root), buffer_(kReadBlock) {}

  void run() {
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_, &entry);
      if (status == ARCHIVE_EOF) return;
      // A warning here is a name that could not be converted or a header
      // that disagrees with itself: neither is extracted.
      if (status != ARCHIVE_OK) refuseArchive(reader_);
      if (++entries_ > kMaxPackageEntries) refuse("the package holds too many entries.");
      extractEntry(entry);
    }
  }

 private:
  void extractEntry(archive_entry* entry) {
    const char* name = archive_entry_pathname(entry);
    const std::optional<QList<QByteArray>> components =
        entryPathComponents(name != nullptr ? QByteArray(name) : QByteArray());
    if (!components) refuse("an entry has an unsafe path.");
    if (archive_entry_hardlink(entry) != nullptr) refuse("an entry is a hard link.");
    if (archive_entry_is_encrypted(entry)) refuse("an entry is encrypted.");

    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFDIR) {
      FileDescriptor current(::dup(root_));
      if (current.get() < 0) refuseErrno(errno);
      for (const QByteArray& component : *components) {
        current = enterDirectory(current.get(), component);
      }
      return;
    }
    if (type != AE_IFREG && type != AE_IFLNK) {
      refuse("an entry is not a file, a directory or a symbolic link.");
    }
    if (components->isEmpty()) refuse("an entry has an unsafe path.");
    const FileDescriptor parent = enterParents(root_, *components);
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
    if (target == nullptr || *target == '\0') refuse("a symbolic link has no target.");
    if (::symlinkat(target, parent, name.constData()) != 0) refusePathError(errno);
  }

  void writeFile(archive_entry* entry, int parent, const QByteArray& name) {
    if (!archive_entry_size_is_set(entry)) refuse("an entry does not declare its size.");
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
        if (written != declared) refuse("an entry is shorter than it declares.");
        return;
      }
      // Checked before the block is written, so the file never holds more
      // than its entry declares nor the package more than the limit.
      if (size > declared - written) refuse("an entry is larger than it declares.");
      if (size > kMaxExpandedBytes - total_) refuse("the package expands beyond the safety limit.");
      writeAll(file.get(), buffer_.data(), static_cast<size_t>(size));
      written += size;
      total_ += size;
    }
  }

  archive* reader_;
  int root_;
  std::vector<char> buffer_;
  qint64 entries_ = 0;
  qint64 total_ = 0;
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

void extractZip(const QString& archivePath, const QString& directory) {
  const FileDescriptor root(::open(QFile::encodeName(directory).constData(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (root.get() < 0) refuseErrno(errno);

  const std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
  if (!reader) refuseErrno(ENOMEM);
  // Zip alone: no other format and no compression filter around it.
  archive_read_support_format_zip(reader.get());
  if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(),
                                 kReadBlock) != ARCHIVE_OK) {
    refuseArchive(reader.get());
  }
  Extraction(reader.get(), root.get()).run();
}
