#pragma once
#include <QIcon>
#include <QString>
#include <functional>

#include "app/FrontEnd.h"
#include "app/WindowActivation.h"

/// The helper's icon, built into the program; every alert's window icon.
QIcon helperIcon();

/// The front end for a desktop session: every alert and the confirmation is a
/// modal QMessageBox showing its texts literally. Needs a QApplication.
class DialogFrontEnd final : public FrontEnd {
 public:
  /// Hands a lent activation token and the shown alert's window on; returns
  /// whether it was used.
  using Activate = std::function<bool(QWindow& window, const QString& token)>;

  explicit DialogFrontEnd(Activate activate = activateWithToken);

  /// Shows a modal box with the title as its message, the text as its detail and one "OK".
  void showAlert(const QString& title, const QString& text) override;

  /// Asks with "Apply skin" (default) and "Cancel" (Escape); true only for "Apply skin".
  bool askToApply(const QString& title, const QString& text) override;

  /// Shows nothing; the run ends silently when the ready check comes due:
  /// returns nullopt.
  std::optional<int> nothingToDo() override;

  /// The next alert, once shown, is activated with `token`.
  void setActivationToken(const QString& token) override;

  /// Shows nothing: the confirmation already told the user what happens.
  void downloadProgress(qint64 received, qint64 total) override;

  /// Shows nothing.
  void downloadFinished() override;

 private:
  Activate activate_;
  QString activationToken_;
};
