#include "app/DialogFrontEnd.h"

#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <utility>

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

/// Shows `box` and asks for it to be activated. A token lent by a later
/// launch is handed to the compositor for this box once it is shown, so the
/// alert that launch brought up may take the focus. The process environment is
/// never written: the engine and every thread see the one the helper started
/// with.
void showActivated(QMessageBox& box, const QString& lentToken,
                   const DialogFrontEnd::Activate& activate) {
  box.show();
  box.raise();
  box.activateWindow();
  if (!lentToken.isEmpty() && box.windowHandle() != nullptr) {
    activate(*box.windowHandle(), lentToken);
  }
}

/// Runs the box application-modal in front of every other window. Skin names
/// and error texts come from outside (links, packages, process output), so
/// every label shows its text literally: QMessageBox applies its text format
/// only to the main label, and the informative label would otherwise render
/// markup such as "<img src=...>".
void runBox(QMessageBox& box, const QString& lentToken, const DialogFrontEnd::Activate& activate) {
  for (QLabel* label : box.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  showActivated(box, lentToken, activate);
  box.exec();
}

}  // namespace

DialogFrontEnd::DialogFrontEnd(Activate activate) : activate_(std::move(activate)) {}

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
  runBox(box, std::exchange(activationToken_, {}), activate_);
}

bool DialogFrontEnd::askToApply(const QString& title, const QString& text) {
  QMessageBox box;
  setUpBox(box, title, text);
  QPushButton* apply = box.addButton(QStringLiteral("Apply skin"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(apply);
  box.setEscapeButton(cancel);
  runBox(box, std::exchange(activationToken_, {}), activate_);
  return box.clickedButton() == apply;
}

std::optional<int> DialogFrontEnd::nothingToDo() {
  return std::nullopt;
}

void DialogFrontEnd::setActivationToken(const QString& token) {
  activationToken_ = token;
}

void DialogFrontEnd::downloadProgress(qint64, qint64) {}

void DialogFrontEnd::downloadFinished() {}
