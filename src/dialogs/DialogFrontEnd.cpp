#include "dialogs/DialogFrontEnd.h"

#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWindow>
#include <utility>

#include "dialogs/AlertLook.h"
#include "dialogs/HelperIcon.h"
#include "dialogs/ProgressWindow.h"
#include "dialogs/SkinDetailsView.h"
#include "flow/AlertText.h"

namespace {

/// A box that shows `title` as its message and `text` as its informative
/// text, each made safe to show: a text from outside (a skin name, an error)
/// never adds lines of its own. A long text (an engine's output, a tool's
/// error) shows its first lines, and the whole of it is under "Show
/// Details…"; a long name without spaces wraps anywhere. So the box stays
/// within the screen: at most about 550 px wide, a few lines of text tall.
/// The caller adds the buttons and then gives the box its look.
void setUpBox(QMessageBox& box, const QString& title, const QString& text) {
  box.setWindowTitle(QStringLiteral("Velmora Helper"));
  box.setWindowIcon(helperIcon());
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  const QFontMetrics metrics = box.fontMetrics();
  box.setText(breakableForDisplay(displaySafe(title, false), metrics));
  const QString safeText = displaySafe(text, true);
  const QString shown = firstLinesOf(safeText);
  box.setInformativeText(breakableForDisplay(shown, metrics));
  // A plain-text view: the details never render markup either.
  if (shown != safeText) box.setDetailedText(safeText);
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

DialogFrontEnd::DialogFrontEnd(Activate activate, std::chrono::milliseconds progressDelay)
    : activate_(std::move(activate)) {
  progressDelay_.setSingleShot(true);
  progressDelay_.setInterval(progressDelay);
  QObject::connect(&progressDelay_, &QTimer::timeout, &mainThread_, [this] { showProgress(); });
}

DialogFrontEnd::~DialogFrontEnd() = default;

void DialogFrontEnd::showAlert(AlertKind kind, const QString& title, const QString& text) {
  QMessageBox box;
  setUpBox(box, title, text);
  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  giveAlertItsLook(box, kind == AlertKind::notice ? AlertIcon::helper : AlertIcon::warning);
  runBox(box, std::exchange(activationToken_, {}), activate_);
}

bool DialogFrontEnd::askToApply(const QString& title, const QString& text,
                                const ConfirmationDetails& details) {
  QMessageBox box;
  setUpBox(box, title, text);
  QPushButton* apply = box.addButton(QStringLiteral("Apply skin"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(apply);
  box.setEscapeButton(cancel);
  giveAlertItsLook(box, AlertIcon::helper);
  addBelowText(box, new SkinDetailsView(details));
  runBox(box, std::exchange(activationToken_, {}), activate_);
  return box.clickedButton() == apply;
}

void DialogFrontEnd::setActivationToken(const QString& token) {
  activationToken_ = token;
}

void DialogFrontEnd::applyStarted(const QString& name, std::function<bool()> cancel) {
  name_ = name;
  cancel_ = std::move(cancel);
  engineRunning_ = false;
  received_ = 0;
  total_ = -1;
  progressDelay_.start();
}

void DialogFrontEnd::showProgress() {
  window_ = std::make_unique<ProgressWindow>(name_);
  QObject::connect(window_.get(), &ProgressWindow::cancelRequested, &mainThread_,
                   [this] { cancelFromWindow(); });
  if (engineRunning_ || !cancel_) {
    window_->showApplying();
  } else {
    window_->setReceived(received_, total_);
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void DialogFrontEnd::cancelFromWindow() {
  // Refused once the image is stored: the engine is about to run.
  if (cancel_ && cancel_()) return;
  window_->showApplying();
  window_->show();
}

void DialogFrontEnd::downloadProgress(qint64 received, qint64 total) {
  received_ = received;
  total_ = total;
  // One update waits in the main thread's queue at most, however fast bytes come.
  if (updatePosted_.exchange(true)) return;
  QMetaObject::invokeMethod(
      &mainThread_, [this] { updateProgress(); }, Qt::QueuedConnection);
}

void DialogFrontEnd::updateProgress() {
  updatePosted_ = false;
  if (window_ && !engineRunning_) window_->setReceived(received_, total_);
}

void DialogFrontEnd::engineStarted() {
  engineRunning_ = true;
  if (window_) window_->showApplying();
}

void DialogFrontEnd::applyEnded() {
  progressDelay_.stop();
  window_.reset();
  cancel_ = {};
}
