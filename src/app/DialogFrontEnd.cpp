#include "app/DialogFrontEnd.h"

#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/AlertText.h"

namespace {

/// A box without icon that shows `title` as its message and `text` as its
/// informative text, each made safe to show: a text from outside (a skin name,
/// an error) never adds lines of its own. The buttons are added by the caller.
void setUpBox(QMessageBox& box, const QString& title, const QString& text) {
  box.setWindowTitle(QStringLiteral("Velmora Helper"));
  box.setWindowIcon(helperIcon());
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  box.setText(displaySafe(title, false));
  box.setInformativeText(displaySafe(text, true));
}

/// Runs the box application-modal in front of every other window. On Wayland
/// activateWindow() hands the compositor the XDG_ACTIVATION_TOKEN the launcher
/// passed (Qt's xdg-shell plugin reads it), so the alert may take the focus. Skin names
/// and error texts come from outside (links, packages, process output), so
/// every label shows its text literally: QMessageBox applies its text format
/// only to the main label, and the informative label would otherwise render
/// markup such as "<img src=...>".
void runBox(QMessageBox& box) {
  for (QLabel* label : box.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.show();
  box.raise();
  box.activateWindow();
  box.exec();
}

}  // namespace

QIcon helperIcon() {
  // The SVG needs Qt's SVG icon engine (Debian libqt6svg6); the PNG keeps an
  // icon on systems without it.
  QIcon icon(QStringLiteral(":/velmora-helper/velmora-helper.svg"));
  if (icon.availableSizes().isEmpty() && icon.pixmap(64).isNull()) {
    icon = QIcon(QStringLiteral(":/velmora-helper/velmora-helper-64.png"));
  }
  return icon;
}

void DialogFrontEnd::showAlert(const QString& title, const QString& text) {
  QMessageBox box;
  setUpBox(box, title, text);
  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  runBox(box);
}

bool DialogFrontEnd::askToApply(const QString& title, const QString& text) {
  QMessageBox box;
  setUpBox(box, title, text);
  QPushButton* apply = box.addButton(QStringLiteral("Apply skin"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(apply);
  box.setEscapeButton(cancel);
  runBox(box);
  return box.clickedButton() == apply;
}

std::optional<int> DialogFrontEnd::nothingToDo() {
  return std::nullopt;
}

void DialogFrontEnd::downloadProgress(qint64, qint64) {}

void DialogFrontEnd::downloadFinished() {}
