#pragma once
#include <QIcon>
#include <QString>

#include "app/FrontEnd.h"

/// The helper's icon, built into the program; every alert's window icon.
QIcon helperIcon();

/// The front end for a desktop session: every alert and the confirmation is a
/// modal QMessageBox showing its texts literally. Needs a QApplication.
class DialogFrontEnd final : public FrontEnd {
 public:
  /// Shows a modal box with the title as its message, the text as its detail and one "OK".
  void showAlert(const QString& title, const QString& text) override;

  /// Asks with "Apply skin" (default) and "Cancel" (Escape); true only for "Apply skin".
  bool askToApply(const QString& title, const QString& text) override;

  /// Shows nothing; the run ends silently when the ready check comes due:
  /// returns nullopt.
  std::optional<int> nothingToDo() override;

  /// The next alert is activated with `token` (see showActivated).
  void setActivationToken(const QString& token) override;

  /// Shows nothing: the confirmation already told the user what happens.
  void downloadProgress(qint64 received, qint64 total) override;

  /// Shows nothing.
  void downloadFinished() override;

 private:
  QString activationToken_;
};
