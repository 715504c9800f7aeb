#pragma once
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "flow/CommandLine.h"

class AppDelegate;
class SingleInstance;

/// A dialog run's part in keeping one instance per user and display. On
/// Linux the first launch takes the instance and later launches hand their
/// inputs to it (SingleInstance); on macOS the system itself keeps one
/// instance and hands it later inputs as file-open events, so this does
/// nothing there.
class SingleInstanceGate {
 public:
  SingleInstanceGate();
  ~SingleInstanceGate();
  SingleInstanceGate(const SingleInstanceGate&) = delete;
  SingleInstanceGate& operator=(const SingleInstanceGate&) = delete;

  /// Before Qt is up, for a dialog run that received `event` on `platform`
  /// (the display probe's choice): takes the instance, or hands the event to
  /// the running one. Returns the exit status when this launch ends here.
  std::optional<int> claim(const QByteArray& platform, const OpenEvent& event);

  /// Gives the activation token a later launch lent (empty for none) to
  /// whoever shows the next alert.
  using LendToken = std::function<void(const QString& token)>;

  /// Once Qt is up: listens, and hands later launches' inputs to `delegate`
  /// (which must outlive this gate) while its run has not ended, and their
  /// activation tokens to `lendToken`; while the download or the engine runs
  /// they are answered "busy" instead.
  void serve(AppDelegate& delegate, const LendToken& lendToken = {});

  /// Whether claim() found the running instance applying a skin: this launch
  /// then shows the busy alert once Qt is up, and ends with kExitFailed.
  bool answeredBusy() const { return busy_; }

 private:
  std::unique_ptr<SingleInstance> instance_;
  bool busy_ = false;
};
