#pragma once
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "flow/FrontEnd.h"
#include "request/SkinRequest.h"

/// The front end for a terminal or a script: problems on standard error, every
/// other alert, the confirmation with its details and the prompt on standard
/// output; the answer read as one line from standard input; download progress
/// on standard error when it is a terminal.
class ConsoleFrontEnd final : public FrontEnd {
 public:
  /// Writes to `out` and `err`, reads answers from `in`.
  ConsoleFrontEnd(std::FILE* out = stdout, std::FILE* err = stderr, std::FILE* in = stdin);
  ~ConsoleFrontEnd() override;

  void showAlert(AlertKind kind, const QString& title, const QString& text) override;
  bool askToApply(const QString& title, const QString& text,
                  const ConfirmationDetails& details) override;
  /// Nothing to show: the console has no Cancel button; Ctrl-C and the other
  /// signals that end a run are handled for both front ends, outside them.
  void applyStarted(const QString& name, std::function<bool()> cancel) override;
  void downloadProgress(qint64 received, qint64 total) override;
  /// The progress line goes.
  void engineStarted() override;
  /// The progress line goes.
  void applyEnded() override;

  /// Prints a request that passed every check, one field a line.
  void printRequest(const SkinRequest& request);

  /// From now on the question is answered Cancel, without waiting for a
  /// line, as soon as `descriptor` is readable (-1: never).
  void cancelAnswerOnceReadable(int descriptor);

 private:
  /// The answer line, without its line feed; none when it is longer than
  /// kMaxConsoleAnswerBytes or the cancel descriptor became readable.
  std::optional<std::string> readAnswer();
  /// The next byte of the answer, EOF at the end of the input, or
  /// kAnswerCancelled once the cancel descriptor is readable.
  int readAnswerByte();
  void print(std::FILE* stream, const QString& title, const QString& text);
  /// Erases the progress line, if one is shown.
  void eraseProgress();

  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  int cancelDescriptor_ = -1;
  bool progressIsShown_ = false;
  std::chrono::steady_clock::time_point lastProgress_{};
};
