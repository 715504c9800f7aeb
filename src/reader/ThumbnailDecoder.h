#pragma once
#include <QImage>
#include <QSize>
#include <QString>

/// A small picture of a skin's image file, for the confirmation. The file
/// comes from a package, so it may be anything: what cannot be read, or would
/// need more memory to decode than a skin image plausibly does, simply has no
/// thumbnail. The file is only ever opened for reading. Runs only inside the
/// confined reader, whose limits bound what an image decoder may take.
class ThumbnailDecoder {
 public:
  /// Reads only the image's header, to know the thumbnail's size at once.
  explicit ThumbnailDecoder(const QString& imageFile);

  /// The thumbnail's size in logical pixels (at most kThumbnailSide on its
  /// longer side, never enlarged); empty when the image has none.
  QSize size() const { return size_; }

  /// Decodes the image at exactly `pixels`; a null image when it cannot be
  /// decoded.
  QImage decode(QSize pixels) const;

 private:
  QString file_;
  QSize size_;
};
