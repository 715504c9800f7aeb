#include "reader/ThumbnailDecoder.h"

#include <QFile>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "base/ImageSignature.h"
#include "base/Limits.h"

namespace {

/// Opens `path` for reading only, never through a symbolic link and never
/// waiting on a special file; null when it is not a regular file.
std::unique_ptr<QFile> openImage(const QString& path) {
  const int descriptor =
      ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  struct stat status {};
  auto file = std::make_unique<QFile>();
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      !file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(descriptor);
    return nullptr;
  }
  return file;
}

/// Sets up a reader for the format the file's first bytes show, whatever
/// its name says, and turns the picture as its EXIF orientation says. Only
/// the accepted photo formats are decoded (a vector drawing named .png could
/// cost any amount of time), and only that format's decoder is loaded.
bool setUp(QImageReader& reader, QFile& file) {
  const QByteArray head = file.peek(kImageSignatureBytes);
  const QString format = imageSignatureFormat(head);
  if (format.isEmpty()) return false;
  reader.setDevice(&file);
  reader.setFormat(format.toLatin1());
  reader.setAutoTransform(true);
  return true;
}

}  // namespace

ThumbnailDecoder::ThumbnailDecoder(const QString& imageFile) : file_(imageFile) {
  QImageReader::setAllocationLimit(kDecodeLimitMiB);
  const std::unique_ptr<QFile> file = openImage(file_);
  if (!file) return;
  QImageReader reader;
  if (!setUp(reader, *file)) return;
  QSize full = reader.size();
  if (!full.isValid() || full.isEmpty()) return;
  if (reader.transformation() & QImageIOHandler::TransformationRotate90) full.transpose();
  size_ = full.width() <= kThumbnailSide && full.height() <= kThumbnailSide
              ? full
              : full.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio);
  // A sliver of a picture (say 10000 x 1) still gets a visible thumbnail.
  size_ = size_.expandedTo(QSize(1, 1));
}

QImage ThumbnailDecoder::decode(QSize pixels) const {
  if (size_.isEmpty() || pixels.isEmpty()) return {};
  const std::unique_ptr<QFile> file = openImage(file_);
  if (!file) return {};
  QImageReader reader;
  if (!setUp(reader, *file)) return {};
  // Decoders that can (JPEG) decode at the smaller size directly; the others
  // decode in full, within the allocation limit, and scale down.
  QSize scaled = pixels;
  if (reader.transformation() & QImageIOHandler::TransformationRotate90) scaled.transpose();
  reader.setScaledSize(scaled);
  QImage image = reader.read();
  if (image.isNull()) return {};
  if (image.size() != pixels) {
    image = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return image.convertToFormat(QImage::Format_ARGB32);
}
