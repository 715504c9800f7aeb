#pragma once
#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QProgressBar;

/// The small window shown while a confirmed skin is being applied and it
/// takes a moment: first "Downloading <name>…" with the bytes received of
/// the total (a busy bar while the total is unknown) and a Cancel button,
/// then "Applying <name>…" with a busy bar. While the engine runs there is no
/// way to stop it, since an engine stopped halfway could leave Orvane
/// half-skinned: the window then has no Cancel, and closing it does nothing.
class ProgressWindow final : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressWindow(const QString& skinName, QWidget* parent = nullptr);

  /// Bytes of the image received so far (total -1 when not announced).
  void setReceived(qint64 received, qint64 total);
  /// The engine runs now: a busy bar, and nothing stops it.
  void showApplying();

 signals:
  /// The user pressed Cancel or Escape, or closed the window, during the
  /// download. Emitted once; the window hides at once.
  void cancelRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  /// Escape: cancels the download; does nothing while the engine runs.
  void reject() override;

 private:
  void requestCancel();

  QString name_;
  QLabel* heading_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QLabel* amount_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  bool downloading_ = true;
  bool cancelled_ = false;
};
