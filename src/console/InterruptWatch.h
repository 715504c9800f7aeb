#pragma once
#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

/// While it lives, Ctrl-C (SIGINT) no longer ends the process: each one
/// becomes a call of `onInterrupt` from the event loop of the thread that
/// made the watch. The signal handler only writes a byte to a pipe, the one
/// thing it may safely do. One watch at a time; the handler that was in place
/// before comes back when the watch goes.
class InterruptWatch final : public QObject {
 public:
  explicit InterruptWatch(std::function<void()> onInterrupt);
  ~InterruptWatch() override;

  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

 private:
  std::function<void()> onInterrupt_;
  std::unique_ptr<QSocketNotifier> notifier_;
  /// False when the pipe or the handler could not be set up: Ctrl-C then
  /// ends the process as it always does.
  bool active_ = false;
};
