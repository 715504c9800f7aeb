#pragma once
#include <QObject>

class AppDelegate;

/// Routes the system's QEvent::FileOpen (macOS: a clicked velmora link, an
/// opened .velmora file) to the delegate as an open-URL event with one URL;
/// a file arrives as a file URL. Install it on the application object.
class FileOpenRouter final : public QObject {
 public:
  /// Hands events to `delegate`, which must outlive the router.
  explicit FileOpenRouter(AppDelegate& delegate, QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  AppDelegate& delegate_;
};
