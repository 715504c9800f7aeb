#include "session/Launch.h"

Launch planLaunch(const CommandLine& line, const QString& workingDirectory,
                  const std::function<DisplayChoice(bool forceConsole)>& chooseDisplay) {
  Launch launch;
  // --check never shows a dialog.
  if (!line.check) launch.display = chooseDisplay(line.console);
  launch.mode = line.check ? AppDelegate::Mode::check : AppDelegate::Mode::apply;
  launch.arrival =
      launch.dialogs() ? AppDelegate::Arrival::anyTime : AppDelegate::Arrival::atLaunchOnly;
  launch.event = openEventFor(line.inputs, workingDirectory);
  if (!launch.dialogs() && launch.event.kind == OpenEvent::Kind::none) {
    launch.readyCheckDelay = std::chrono::milliseconds(0);
  }
  return launch;
}
