#include "dialogs/AlertLook.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <algorithm>

#include "dialogs/HelperIcon.h"

namespace {

/// A zero-height item as wide as the box's content must be for the whole box
/// to be kMinimumAlertWidth wide.
QSpacerItem* minimumWidthItem(QGridLayout& grid) {
  const QMargins margins = grid.contentsMargins();
  return new QSpacerItem(kMinimumAlertWidth - margins.left() - margins.right(), 0,
                         QSizePolicy::Fixed, QSizePolicy::Fixed);
}

/// The last position at or before `position` where `finder`'s kind of
/// boundary lies.
qsizetype boundaryAtOrBefore(QTextBoundaryFinder& finder, qsizetype position) {
  finder.setPosition(position);
  if (finder.isAtBoundary()) return position;
  return std::max<qsizetype>(0, finder.toPreviousBoundary());
}

}  // namespace

QString firstLinesOf(const QString& text) {
  qsizetype end = text.size();
  qsizetype lineFeed = -1;
  for (int line = 0; line < kShownLines; ++line) {
    lineFeed = text.indexOf(u'\n', lineFeed + 1);
    if (lineFeed < 0) break;
  }
  if (lineFeed >= 0) end = lineFeed;
  if (end > kShownCharacters) {
    // After the last whole line that fits; else between words where the last
    // quarter holds a break; else (one long run) between two characters.
    end = text.lastIndexOf(u'\n', kShownCharacters);
  }
  if (end <= 0) {
    QTextBoundaryFinder lines(QTextBoundaryFinder::Line, text);
    end = boundaryAtOrBefore(lines, kShownCharacters);
    if (end < kShownCharacters * 3 / 4) {
      QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
      end = boundaryAtOrBefore(characters, kShownCharacters);
    }
  }
  if (end == text.size()) return text;
  QString shown = text.left(end);
  while (!shown.isEmpty() && shown.back().isSpace()) shown.chop(1);
  return shown + u'…';
}

QString breakableForDisplay(const QString& text, const QFontMetrics& metrics, int widest) {
  QString shown;
  shown.reserve(text.size());
  QTextBoundaryFinder lines(QTextBoundaryFinder::Line, text);
  qsizetype start = 0;
  for (qsizetype end = lines.toNextBoundary(); end > start; end = lines.toNextBoundary()) {
    const QString run = text.mid(start, end - start);
    start = end;
    if (metrics.horizontalAdvance(run) <= widest) {
      shown += run;
      continue;
    }
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, run);
    qsizetype from = 0;
    for (qsizetype to = characters.toNextBoundary(); to > from; to = characters.toNextBoundary()) {
      if (from > 0) shown += kDisplayBreak;
      shown += QStringView(run).mid(from, to - from);
      from = to;
    }
  }
  return shown;
}

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
