#pragma once
#include <unistd.h>

#include <utility>

/// Owns one open file descriptor and closes it when it goes out of scope;
/// -1 stands for none.
class FileDescriptor {
 public:
  /// Takes ownership of `fd` (which may be -1).
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  /// Takes over the other's descriptor, leaving it empty.
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  /// Swaps descriptors; the one held before closes with `other`.
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  /// The descriptor, or -1.
  int get() const { return fd_; }

 private:
  int fd_;
};
