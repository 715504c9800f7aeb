#include "dialogs/ProgressWindow.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include "dialogs/AlertLook.h"
#include "dialogs/HelperIcon.h"
#include "flow/AlertText.h"
#include "flow/TransferText.h"

namespace {

/// The widest a heading is drawn; a longer skin name is cut short with "…".
constexpr int kHeadingWidth = 300;

QLabel* plainLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

ProgressWindow::ProgressWindow(const QString& skinName, QWidget* parent)
    : QDialog(parent), name_(displaySafe(skinName, false)) {
  setWindowTitle(QStringLiteral("Velmora Helper"));
  setWindowIcon(helperIcon());
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  auto* grid = new QGridLayout(this);
  auto* icon = plainLabel(this);
  const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(helperIcon().pixmap(QSize(side, side), devicePixelRatio()));
  grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);

  heading_ = plainLabel(this);
  QFont bold = heading_->font();
  bold.setBold(true);
  heading_->setFont(bold);
  grid->addWidget(heading_, 0, 1);

  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  bar_->setRange(0, 0);
  grid->addWidget(bar_, 1, 1);

  amount_ = plainLabel(this);
  grid->addWidget(amount_, 2, 1);

  buttons_ = new QDialogButtonBox(this);
  QPushButton* cancel = buttons_->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setAutoDefault(false);
  connect(buttons_, &QDialogButtonBox::rejected, this, &ProgressWindow::requestCancel);
  grid->addWidget(buttons_, 3, 0, 1, 2);

  // The same width as the alerts, so that the final one takes its place.
  const QMargins margins = grid->contentsMargins();
  grid->addItem(new QSpacerItem(kMinimumAlertWidth - margins.left() - margins.right(), 0,
                                QSizePolicy::Fixed, QSizePolicy::Fixed),
                4, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  heading_->setText(heading_->fontMetrics().elidedText(
      QStringLiteral("Downloading ") + name_ + QStringLiteral("…"), Qt::ElideRight, kHeadingWidth));
}

void ProgressWindow::setReceived(qint64 received, qint64 total) {
  if (!downloading_) return;
  if (total > 0) {
    // Counted in KiB, which an int holds for any total.
    bar_->setRange(0, static_cast<int>((total + 1023) / 1024));
    bar_->setValue(static_cast<int>(qMin(received, total) / 1024));
  } else {
    bar_->setRange(0, 0);
  }
  amount_->setText(receivedText(received, total));
}

void ProgressWindow::showApplying() {
  downloading_ = false;
  heading_->setText(heading_->fontMetrics().elidedText(
      QStringLiteral("Applying ") + name_ + QStringLiteral("…"), Qt::ElideRight, kHeadingWidth));
  bar_->setRange(0, 0);
  amount_->hide();
  buttons_->hide();
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  requestCancel();
}

void ProgressWindow::reject() {
  requestCancel();
}

void ProgressWindow::requestCancel() {
  if (!downloading_ || cancelled_) return;
  cancelled_ = true;
  hide();
  emit cancelRequested();
}
