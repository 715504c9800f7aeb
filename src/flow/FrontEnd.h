#pragma once
#include <QString>
#include <functional>

class PackageThumbnail;

/// What an alert tells the user. The kinds look different in a dialog and go
/// to different streams on the console.
enum class AlertKind {
  notice,   ///< the ready alert, "Skin applied", the busy answer
  problem,  ///< a refused link or package, "Could not apply skin", a failed check
  usage,    ///< a launch the helper cannot use: one line, its text alone, on the console
            ///< "velmora-helper: " and the text on standard error
};

/// What the confirmation shows below its texts, so the user sees where a skin
/// comes from and what it does before agreeing.
struct ConfirmationDetails {
  QString source;     ///< the image's host for a link, the package's file name for a package
  QString accent;     ///< "#" + six lower-case hex digits
  QString secondary;  ///< as accent
  QString highlight;  ///< as accent
  /// The package image's thumbnail, decoded on request while the question is
  /// open; null for a link, whose image is not fetched before the user agrees.
  PackageThumbnail* thumbnail = nullptr;

  bool operator==(const ConfirmationDetails&) const = default;
};

/// What the flows show to the user and ask of them. Two implementations:
/// Qt dialogs when there is a display, the console otherwise. The flows never
/// know which one is showing. All methods but downloadProgress are called
/// on the main thread.
///
/// A confirmed skin is reported as applyStarted, then for a link the
/// download's progress, then engineStarted, then applyEnded just before the
/// final alert (or the end of the run when the user cancelled). Nothing here
/// decides how the run ends: that is the flow's.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  /// Shows a modal alert of `kind` with one "OK" button and returns once it is dismissed.
  virtual void showAlert(AlertKind kind, const QString& title, const QString& text) = 0;

  /// Asks with the buttons "Apply skin" and "Cancel", showing `details` below
  /// the texts; true only for "Apply skin".
  virtual bool askToApply(const QString& title, const QString& text,
                          const ConfirmationDetails& details) = 0;

  /// A confirmed skin called `name` is being applied. While its image
  /// downloads, `cancel` (empty when there is nothing to cancel) stops it; it
  /// returns false once the download can no longer be stopped.
  virtual void applyStarted(const QString& name, std::function<bool()> cancel) = 0;

  /// Bytes of the image received so far (total -1 when not announced).
  /// Called on the downloading thread.
  virtual void downloadProgress(qint64 received, qint64 total) = 0;

  /// The engine runs now; nothing stops it.
  virtual void engineStarted() = 0;

  /// The apply has ended, either way; nothing of it stays on screen. Does
  /// nothing when no apply was started.
  virtual void applyEnded() = 0;
};
