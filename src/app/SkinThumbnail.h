#pragma once
#include <QImage>
#include <QSize>
#include <QString>

/// The longer side of a skin's thumbnail, in logical pixels.
inline constexpr int kThumbnailSide = 160;

/// A small picture of a skin's image file, for the confirmation. The file
/// comes from a package, so it may be anything: what cannot be read, or would
/// need more memory to decode than a skin image plausibly does, simply has no
/// thumbnail. The file is only ever opened for reading.
class SkinThumbnail {
 public:
  /// Reads only the image's header, to know the thumbnail's size at once.
  /// Call on the main thread: it also caps what any image decoding of this
  /// process may allocate.
  explicit SkinThumbnail(const QString& imageFile);

  /// The thumbnail's size in logical pixels (at most kThumbnailSide on its
  /// longer side, never enlarged); empty when the image has none.
  QSize size() const { return size_; }

  /// Decodes the image at `size() * devicePixelRatio`; a null image when it
  /// cannot be decoded. Slow for a large image, safe on any thread.
  QImage decode(qreal devicePixelRatio) const;

 private:
  QString file_;
  QSize size_;
};
