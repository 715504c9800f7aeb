#pragma once
#include <QObject>
#include <functional>
#include <memory>

#include "flow/FrontEnd.h"

class QSocketNotifier;

/// SIGINT, SIGTERM, SIGHUP and SIGPIPE, caught for the rest of the run: none
/// of them ends the process where it stands, which would leave an extracted
/// package or a partial download behind. The handler only records the first
/// one and writes a byte to a pipe, the one thing it may safely do; the run
/// then ends from the event loop (SignalEndedFrontEnd). One at a time; the
/// actions in place before come back when it goes.
class RunSignals {
 public:
  /// Installs the handlers. Until someone watches the descriptor, a signal
  /// is only recorded.
  RunSignals();
  ~RunSignals();
  RunSignals(const RunSignals&) = delete;
  RunSignals& operator=(const RunSignals&) = delete;

  /// The first signal received, 0 while none has come. Safe from any thread.
  int received() const;
  /// Readable from the first signal on, for the rest of the run (the byte
  /// is never taken out): a wait that can give up watches it.
  int descriptor() const;
  /// Installs the handlers again where a library set one of the signals to
  /// be ignored (Qt does so for SIGPIPE when it first starts a process or
  /// opens a socket).
  void rearm();

 private:
  bool active_ = false;
};

/// The front end of a run that the signals in `runSignals` end. Passes
/// everything on to `inner`; once a signal has come it shows nothing more
/// and asks nothing more (a question is answered Cancel), and ends the run as
/// soon as nothing of it is half done:
/// - while the image downloads, the download is cancelled: its partial file
///   and folder go, and the flow ends the run (at once when an alert is open);
/// - while the engine runs (or the image is about to go to it) the run ends
///   once it has finished, so that a skin is never left half applied (an
///   alert open then, the busy answer, waits to be closed first);
/// - otherwise (a question, an alert or nothing open) the event loops end at
///   once; the flow takes back what it made for the question.
/// exitStatusAfterSignal() then gives the status.
class SignalEndedFrontEnd final : public QObject, public FrontEnd {
 public:
  SignalEndedFrontEnd(FrontEnd& inner, RunSignals& runSignals);
  ~SignalEndedFrontEnd() override;

  void showAlert(AlertKind kind, const QString& title, const QString& text) override;
  bool askToApply(const QString& title, const QString& text,
                  const ConfirmationDetails& details) override;
  void applyStarted(const QString& name, std::function<bool()> cancel) override;
  void downloadProgress(qint64 received, qint64 total) override;
  void engineStarted() override;
  void applyEnded() override;

 private:
  void end();
  bool ended() const { return signals_.received() != 0; }

  FrontEnd& inner_;
  RunSignals& signals_;
  std::unique_ptr<QSocketNotifier> notifier_;
  /// From applyStarted() to applyEnded().
  bool applying_ = false;
  /// Alerts open, one inside another's loop at most.
  int alertsOpen_ = 0;
  /// Stops the download, until the engine starts.
  std::function<bool()> cancel_;
};

/// The exit status of a run that `signal` ended, the run itself having ended
/// with `runStatus`: Ctrl-C at the question or during the download is a
/// cancel, as the Cancel button is (kExitCancelled); otherwise 128 + the
/// signal's number, as a shell reports a process the signal ended.
int exitStatusAfterSignal(int signal, int runStatus);
