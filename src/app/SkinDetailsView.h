#pragma once
#include <QWidget>
#include <memory>
#include <thread>

#include "app/FrontEnd.h"

class QLabel;
class SkinThumbnail;

/// What the confirmation dialog shows below its texts: where the skin comes
/// from, its three colours as swatches with their names and values, and a
/// thumbnail of its image when one is on disk. Every text is shown literally.
///
/// The thumbnail's place is kept from the start, and the picture is decoded
/// on a thread of its own once the view is on screen, so a large image never
/// holds the dialog back; an image that cannot be decoded just leaves the
/// place out.
class SkinDetailsView final : public QWidget {
 public:
  explicit SkinDetailsView(const ConfirmationDetails& details, QWidget* parent = nullptr);
  /// Waits for the decoding thread.
  ~SkinDetailsView() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void showThumbnail(const QImage& image);

  std::unique_ptr<SkinThumbnail> thumbnailSource_;
  QLabel* thumbnail_ = nullptr;
  std::thread decoder_;
};
