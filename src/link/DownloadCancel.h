#pragma once
#include <exception>
#include <functional>
#include <mutex>

/// Lets another thread (the one the user is on) stop an image download at
/// once. The transfer registers how it is stopped while it runs; cancel()
/// may come before, during or after that, any number of times. Once the
/// transfer has ended with its image, cancelling is refused: the image is
/// then the engine's.
class DownloadCancel {
 public:
  /// Stops the transfer at once, or before it starts, and returns true;
  /// false once the transfer has ended with its image. Safe from any thread.
  bool cancel();
  /// Whether cancel() took effect.
  bool cancelled() const;

  /// For the transfer: `stop` is called (on the thread that calls cancel())
  /// when the download is cancelled, at once if it already is. Cleared with
  /// an empty function before the transfer goes.
  void setStop(std::function<void()> stop);
  /// For the transfer, as it ends with its image: from now on cancel() is
  /// refused. False when the download was cancelled before.
  bool end();

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  bool ended_ = false;
  std::function<void()> stop_;
};

/// What a cancelled download throws: not a failure to tell the user about.
class DownloadCancelled final : public std::exception {
 public:
  const char* what() const noexcept override { return "The download was cancelled."; }
};
