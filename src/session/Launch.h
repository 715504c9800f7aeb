#pragma once
#include <QString>
#include <chrono>
#include <functional>

#include "flow/AppDelegate.h"
#include "flow/CommandLine.h"
#include "session/DisplayProbe.h"

/// How one launch runs, decided from its command line before Qt is up.
struct Launch {
  DisplayChoice display;  ///< the front end, and for dialogs the Qt platform to open
  AppDelegate::Mode mode = AppDelegate::Mode::apply;
  AppDelegate::Arrival arrival = AppDelegate::Arrival::atLaunchOnly;
  OpenEvent event;  ///< what the launch's own inputs form
  /// How long after launch the ready check runs.
  std::chrono::milliseconds readyCheckDelay = kReadyCheckDelay;

  bool dialogs() const { return display.frontEnd == FrontEndKind::dialogs; }
};

/// The launch that the valid command line `line` (no usage error, no --help or
/// --version) asks for, its relative paths taken against `workingDirectory`.
/// --check runs on the console and never asks `chooseDisplay`; otherwise
/// `chooseDisplay` picks the front end, told whether --console forces the
/// console. Dialogs may receive open events at any time, from the system or a
/// later launch; a console run has its own inputs alone, and without any it
/// shows the ready alert at once instead of waiting for one.
Launch planLaunch(const CommandLine& line, const QString& workingDirectory,
                  const std::function<DisplayChoice(bool forceConsole)>& chooseDisplay);
