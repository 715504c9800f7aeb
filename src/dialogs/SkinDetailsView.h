#pragma once
#include <QColor>
#include <QEvent>
#include <QList>
#include <QWidget>
#include <utility>

#include "flow/FrontEnd.h"

class QLabel;
class PackageThumbnail;

/// What the confirmation dialog shows below its texts: where the skin comes
/// from, its three colours as swatches with their names and values, and a
/// thumbnail of a package's image. Every text is shown literally.
///
/// The thumbnail's place is kept from the start, and the package's confined
/// reader is asked for the picture once the view is on screen, so a large
/// image never holds the dialog back; a picture that does not come in time
/// just leaves the place out.
class SkinDetailsView final : public QWidget {
 public:
  explicit SkinDetailsView(const ConfirmationDetails& details, QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void showThumbnail(const QImage& image);
  /// Draws each swatch with an edge in the palette's text colour.
  void paintSwatches();

  QList<std::pair<QLabel*, QColor>> swatches_;
  PackageThumbnail* thumbnailSource_ = nullptr;
  QLabel* thumbnail_ = nullptr;
  bool asked_ = false;
};
