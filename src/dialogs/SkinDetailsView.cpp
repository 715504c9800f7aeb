#include "dialogs/SkinDetailsView.h"

#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <cmath>
#include <cstring>

#include "base/Limits.h"
#include "flow/AlertText.h"
#include "package/PackageThumbnail.h"

namespace {

/// The side of a colour swatch, in logical pixels.
constexpr int kSwatchSide = 14;
/// The widest the source may be shown; a longer file name is cut in the middle.
constexpr int kSourceWidth = 300;

QLabel* plainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  return label;
}

/// A square of `color` with a thin edge in the text's colour, faint, so that
/// a colour as light (or as dark) as the window's background shows too.
QPixmap swatch(const QColor& color, const QColor& text, qreal devicePixelRatio) {
  QPixmap pixmap(QSize(kSwatchSide, kSwatchSide) * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor edge = text;
  edge.setAlpha(96);
  painter.setPen(QPen(edge, 1));
  painter.setBrush(color);
  painter.drawRoundedRect(QRectF(0.5, 0.5, kSwatchSide - 1, kSwatchSide - 1), 3, 3);
  return pixmap;
}

/// Fits the top-level window's fixed height to its layout again, after a
/// part of it was hidden.
void refitWindowHeight(QWidget& window) {
  QLayout* layout = window.layout();
  if (layout == nullptr) return;
  layout->activate();
  const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(window.width())
                                                 : layout->totalMinimumSize().height();
  window.setFixedHeight(height);
}

}  // namespace

SkinDetailsView::SkinDetailsView(const ConfirmationDetails& details, QWidget* parent)
    : QWidget(parent) {
  auto* grid = new QGridLayout(this);
  // Apart from the buttons below, as the informative text is from the details.
  grid->setContentsMargins(0, 0, 0, 10);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);

  // A file name may hold anything a file system allows: invisible and
  // direction-changing characters are shown as escapes.
  QLabel* source = plainLabel(QString(), this);
  source->setObjectName(QStringLiteral("source"));
  source->setText(source->fontMetrics().elidedText(
      QStringLiteral("From: ") + displaySafe(details.source, false), Qt::ElideMiddle,
      kSourceWidth));
  // Across the stretching column too, so that a long source widens that one
  // and never parts the swatches from their names.
  grid->addWidget(source, 0, 0, 1, 4);

  const std::pair<QString, QString> colors[] = {{QStringLiteral("accent"), details.accent},
                                                {QStringLiteral("secondary"), details.secondary},
                                                {QStringLiteral("highlight"), details.highlight}};
  int row = 1;
  for (const auto& [name, value] : colors) {
    QLabel* square = plainLabel(QString(), this);
    square->setObjectName(QStringLiteral("swatch-") + name);
    square->setAccessibleName(name + u' ' + value);
    swatches_.append({square, QColor(value)});
    grid->addWidget(square, row, 0);
    grid->addWidget(plainLabel(name, this), row, 1);
    grid->addWidget(plainLabel(value, this), row, 2);
    ++row;
  }
  grid->setColumnStretch(3, 1);
  paintSwatches();

  if (details.thumbnail == nullptr || details.thumbnail->size().isEmpty()) return;
  thumbnailSource_ = details.thumbnail;
  thumbnail_ = plainLabel(QString(), this);
  thumbnail_->setObjectName(QStringLiteral("thumbnail"));
  thumbnail_->setFixedSize(thumbnailSource_->size());
  grid->addWidget(thumbnail_, 0, 4, row, 1, Qt::AlignRight | Qt::AlignTop);
}

void SkinDetailsView::paintSwatches() {
  const QColor text = palette().color(QPalette::WindowText);
  for (const auto& [square, color] : swatches_) {
    square->setPixmap(swatch(color, text, devicePixelRatioF()));
  }
}

void SkinDetailsView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // A theme switched while the question is open: the edges follow it.
  if (event->type() == QEvent::PaletteChange) paintSwatches();
}

void SkinDetailsView::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // The first paint comes once the window is on screen: the picture is asked
  // for then, so that decoding never competes with putting the window up.
  if (thumbnail_ == nullptr || asked_) return;
  asked_ = true;
  const qreal ratio = std::min<qreal>(devicePixelRatioF(), kMaxThumbnailScale);
  const QSize logical = thumbnailSource_->size();
  const QSize pixels(std::max(1, int(std::lround(logical.width() * ratio))),
                     std::max(1, int(std::lround(logical.height() * ratio))));
  thumbnailSource_->decode(pixels, [view = QPointer<SkinDetailsView>(this), ratio](
                                       const QByteArray& argb32, QSize size) {
    if (view.isNull()) return;
    QImage image;
    if (!size.isEmpty()) {
      // Built here from plain pixels: the helper never decodes the package's image.
      image = QImage(size, QImage::Format_ARGB32);
      const qsizetype row = qsizetype(size.width()) * 4;
      for (int y = 0; y < size.height(); ++y) {
        std::memcpy(image.scanLine(y), argb32.constData() + y * row, size_t(row));
      }
      image.setDevicePixelRatio(ratio);
    }
    view->showThumbnail(image);
  });
}

void SkinDetailsView::showThumbnail(const QImage& image) {
  if (!image.isNull()) {
    thumbnail_->setPixmap(QPixmap::fromImage(image));
    return;
  }
  thumbnail_->hide();
  refitWindowHeight(*window());
}
