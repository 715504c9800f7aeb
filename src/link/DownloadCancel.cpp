#include "link/DownloadCancel.h"

bool DownloadCancel::cancel() {
  const std::lock_guard lock(mutex_);
  if (ended_) return false;
  if (cancelled_) return true;
  cancelled_ = true;
  if (stop_) stop_();
  return true;
}

bool DownloadCancel::cancelled() const {
  const std::lock_guard lock(mutex_);
  return cancelled_;
}

void DownloadCancel::setStop(std::function<void()> stop) {
  const std::lock_guard lock(mutex_);
  stop_ = std::move(stop);
  if (cancelled_ && stop_) stop_();
}

bool DownloadCancel::end() {
  const std::lock_guard lock(mutex_);
  if (!cancelled_) ended_ = true;
  return !cancelled_;
}
