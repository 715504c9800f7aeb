#pragma once
#include <QIcon>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

#include "app/FrontEnd.h"
#include "app/WindowActivation.h"

class ProgressWindow;

/// The helper's icon, built into the program; every alert's window icon.
QIcon helperIcon();

/// The front end for a desktop session: every alert and the confirmation is a
/// modal QMessageBox showing its texts literally, with an icon that tells its
/// kind. Needs a QApplication.
class DialogFrontEnd final : public FrontEnd {
 public:
  /// Hands a lent activation token and the shown alert's window on; returns
  /// whether it was used.
  using Activate = std::function<bool(QWindow& window, const QString& token)>;

  explicit DialogFrontEnd(Activate activate = activateWithToken);
  ~DialogFrontEnd() override;

  /// Shows a modal box with the title as its heading, the text below it and one "OK";
  /// a problem carries a warning sign, a notice the helper's icon.
  void showAlert(AlertKind kind, const QString& title, const QString& text) override;

  /// Asks with "Apply skin" (default) and "Cancel" (Escape), the details below
  /// the texts; true only for "Apply skin".
  bool askToApply(const QString& title, const QString& text,
                  const ConfirmationDetails& details) override;

  /// Shows nothing; the run ends silently when the ready check comes due:
  /// returns nullopt.
  std::optional<int> nothingToDo() override;

  /// The next alert, once shown, is activated with `token`.
  void setActivationToken(const QString& token) override;

  /// Shows nothing: the confirmation already told the user what happens.

  /// Shows the progress window once applying has taken kProgressDelayMs,
  /// so a quick apply goes from the question straight to its final alert.
  /// Its Cancel calls `cancel`.
  void applyStarted(const QString& name, std::function<bool()> cancel) override;

  /// Moves the progress window's bar; safe from the downloading thread.
  void downloadProgress(qint64 received, qint64 total) override;

  /// Shows nothing: the engine-started notice follows.
  void downloadFinished() override;

  /// The progress window says "Applying …" and loses its Cancel.
  void engineStarted() override;

  /// Takes the progress window away: the final alert takes its place.
  void applyEnded() override;

  /// How long an apply runs before the progress window shows, in ms.
  static constexpr int kProgressDelayMs = 500;

 private:
  void showProgress();
  void cancelFromWindow();
  void updateProgress();

  QObject mainThread_;  // the context of calls posted from the downloading thread
  QTimer progressDelay_;
  std::unique_ptr<ProgressWindow> window_;
  QString name_;
  std::function<bool()> cancel_;
  bool engineRunning_ = false;
  std::atomic<qint64> received_{0};
  std::atomic<qint64> total_{-1};
  std::atomic<bool> updatePosted_{false};
  Activate activate_;
  QString activationToken_;
};
