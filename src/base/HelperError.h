#pragma once
#include <QString>
#include <exception>
#include <string>

/// Any failure that ends a flow. Its description is the text the user reads,
/// exactly as it stands; flows catch this base once at their top.
class Failure : public std::exception {
 public:
  explicit Failure(QString description);
  /// The text shown as the alert's informative text.
  const QString& localizedDescription() const { return description_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  QString description_;
  std::string utf8_;
};

/// The helper's own refusals: invalid input, a step that failed on it, a
/// missing engine. Each carries its fixed English sentence.
class HelperError final : public Failure {
 public:
  enum class Case { invalidRequest, processFailed, engineMissing };

  /// A refusal of input, carrying its message.
  static HelperError invalidRequest(const QString& message);
  /// A step that failed on the input, carrying its reason: a child process
  /// that exited unsuccessfully (the zip tool, the package reader, the
  /// engine) with its output or a fixed text, or the extraction of a package.
  static HelperError processFailed(const QString& message);
  /// The skin engine is not installed or not executable.
  static HelperError engineMissing();

  Case errorCase() const { return case_; }

 private:
  HelperError(Case c, const QString& description) : Failure(description), case_(c) {}
  Case case_;
};

/// Refuses input: throws HelperError::invalidRequest with `message`, one of
/// the helper's fixed sentences (UTF-8).
[[noreturn]] void refuse(const char* message);

/// An error of the platform or of a tool (launch, network, file system,
/// JSON parser), passed on in the platform's own words.
class PlatformError final : public Failure {
 public:
  explicit PlatformError(const QString& description) : Failure(description) {}
};
