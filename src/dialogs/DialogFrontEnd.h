#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "dialogs/WindowActivation.h"
#include "flow/FrontEnd.h"

class ProgressWindow;

/// The front end for a desktop session: every alert and the confirmation is a
/// modal QMessageBox showing its texts literally, with an icon that tells its
/// kind. Needs a QApplication.
class DialogFrontEnd final : public FrontEnd {
 public:
  /// Hands a lent activation token and the shown alert's window on; returns
  /// whether it was used.
  using Activate = std::function<bool(QWindow& window, const QString& token)>;

  /// How long an apply runs before the progress window shows.
  static constexpr std::chrono::milliseconds kProgressDelay{500};

  /// Activates windows with `activate`; shows the progress window once an
  /// apply has run for `progressDelay`.
  explicit DialogFrontEnd(Activate activate = activateWithToken,
                          std::chrono::milliseconds progressDelay = kProgressDelay);
  ~DialogFrontEnd() override;

  /// Shows a modal box with the title as its heading, the text below it and one "OK";
  /// a problem carries a warning sign, a notice the helper's icon. A long text
  /// shows its first lines, and all of it under "Show Details…".
  void showAlert(AlertKind kind, const QString& title, const QString& text) override;

  /// Asks with "Apply skin" (default) and "Cancel" (Escape), the details below
  /// the texts; true only for "Apply skin".
  bool askToApply(const QString& title, const QString& text,
                  const ConfirmationDetails& details) override;

  /// The next alert, once shown, is activated with `token`: an XDG activation
  /// token that a later launch lent with its hand-over; empty for none.
  void setActivationToken(const QString& token);

  /// Shows the progress window once applying has taken the progress delay,
  /// so a quick apply goes from the question straight to its final alert.
  /// Its Cancel calls `cancel`.
  void applyStarted(const QString& name, std::function<bool()> cancel) override;

  /// Moves the progress window's bar; safe from the downloading thread.
  void downloadProgress(qint64 received, qint64 total) override;

  /// The progress window says "Applying …" and loses its Cancel.
  void engineStarted() override;

  /// Takes the progress window away: the final alert takes its place.
  void applyEnded() override;

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
