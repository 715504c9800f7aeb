#include "dialogs/AlertLook.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>

#include "dialogs/HelperIcon.h"

namespace {

/// A zero-height item as wide as the box's content must be for the whole box
/// to be kMinimumAlertWidth wide.
QSpacerItem* minimumWidthItem(QGridLayout& grid) {
  const QMargins margins = grid.contentsMargins();
  return new QSpacerItem(kMinimumAlertWidth - margins.left() - margins.right(), 0,
                         QSizePolicy::Fixed, QSizePolicy::Fixed);
}

}  // namespace

void giveAlertItsLook(QMessageBox& box, AlertIcon icon) {
  if (icon == AlertIcon::warning) {
    box.setIcon(QMessageBox::Warning);
  } else {
    // The same size as the style's own message icons.
    const int side = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    box.setIconPixmap(helperIcon().pixmap(QSize(side, side), box.devicePixelRatio()));
  }
  // Bold, as native alerts set their heading apart from the text below it.
  if (auto* heading = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
  }
  // Across the heading's row, so that it adds width and no height.
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  grid->addItem(minimumWidthItem(*grid), 0, 0, 1, grid->columnCount());
}

void addBelowText(QMessageBox& box, QWidget* widget) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  auto* text = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
  auto* buttons = box.findChild<QDialogButtonBox*>();
  if (grid == nullptr || text == nullptr || buttons == nullptr) {
    delete widget;
    return;
  }
  int row = 0;
  int textColumn = 0;
  int span = 0;
  grid->getItemPosition(grid->indexOf(text), &row, &textColumn, &span, &span);
  // The widget takes the buttons' row, in the text's column; the buttons move
  // down a row, keeping their full width.
  int buttonRow = 0;
  int column = 0;
  grid->getItemPosition(grid->indexOf(buttons), &buttonRow, &column, &span, &span);
  grid->removeWidget(buttons);
  grid->addWidget(widget, buttonRow, textColumn);
  grid->addWidget(buttons, buttonRow + 1, 0, 1, grid->columnCount());
}
