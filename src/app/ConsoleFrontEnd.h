#pragma once
#include <chrono>
#include <cstdio>

#include "app/FrontEnd.h"
#include "request/SkinRequest.h"

/// The front end for a terminal or a script: alerts on standard output, the
/// confirmation read as one line from standard input, download progress on
/// standard error when it is a terminal.
class ConsoleFrontEnd final : public FrontEnd {
 public:
  /// Writes to `out` and `err`, reads answers from `in`.
  ConsoleFrontEnd(std::FILE* out = stdout, std::FILE* err = stderr, std::FILE* in = stdin);

  void showAlert(const QString& title, const QString& text) override;
  bool askToApply(const QString& title, const QString& text) override;
  std::optional<int> nothingToDo() override;
  void downloadProgress(qint64 received, qint64 total) override;
  void downloadFinished() override;

  /// Prints a request that passed every check, one field a line.
  void printRequest(const SkinRequest& request);

 private:
  void print(const QString& title, const QString& text);

  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  bool progressIsShown_ = false;
  std::chrono::steady_clock::time_point lastProgress_{};
};
