#pragma once
#include <QString>
#include <optional>

/// What the flows show to the user and ask of them. Two implementations:
/// Qt dialogs when there is a display, the console otherwise. The flows never
/// know which one is showing. All methods but the two download ones are called
/// on the main thread.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  /// Shows a modal alert with one "OK" button and returns once it is dismissed.
  virtual void showAlert(const QString& title, const QString& text) = 0;

  /// Asks with the buttons "Apply skin" and "Cancel"; true only for "Apply skin".
  virtual bool askToApply(const QString& title, const QString& text) = 0;

  /// An open event left nothing to do. Returns the exit status to end with at
  /// once, or nullopt to end silently with kExitUsage when the ready check
  /// comes due, unless another input has been taken up by then.
  virtual std::optional<int> nothingToDo() = 0;

  /// The next alert may come to the front on behalf of the launch that lent
  /// `token` (its XDG activation token); empty for none. Ignored by default.
  virtual void setActivationToken(const QString& token) { static_cast<void>(token); }

  /// Bytes of the image received so far (total -1 when not announced).
  /// Called on the downloading thread.
  virtual void downloadProgress(qint64 received, qint64 total) = 0;

  /// The image transfer has ended, either way. Called on the downloading thread.
  virtual void downloadFinished() = 0;
};
