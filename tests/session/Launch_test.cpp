#include "session/Launch.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using std::chrono::milliseconds;

const DisplayChoice kDialogs{FrontEndKind::dialogs, "xcb"};
const DisplayChoice kConsole{FrontEndKind::console, {}};

TEST(PlanLaunch, PicksTheFrontEndTheModeAndWhenTheReadyCheckRuns) {
  const QString link = QStringLiteral("velmora://apply?image=https://velmora.app/a.png");
  const struct {
    const char* what;
    QStringList arguments;
    DisplayChoice probed;
    std::optional<bool> forcedConsole;  // what the probe was told; nullopt: never asked
    DisplayChoice display;
    AppDelegate::Mode mode;
    AppDelegate::Arrival arrival;
    milliseconds readyCheckDelay;
  } cases[] = {
      {"a link in a desktop session",
       {link},
       kDialogs,
       false,
       kDialogs,
       AppDelegate::Mode::apply,
       AppDelegate::Arrival::anyTime,
       kReadyCheckDelay},
      // Started by the system, whose open event is still on its way.
      {"nothing in a desktop session",
       {},
       kDialogs,
       false,
       kDialogs,
       AppDelegate::Mode::apply,
       AppDelegate::Arrival::anyTime,
       kReadyCheckDelay},
      {"a link on the console",
       {link},
       kConsole,
       false,
       kConsole,
       AppDelegate::Mode::apply,
       AppDelegate::Arrival::atLaunchOnly,
       kReadyCheckDelay},
      // Nothing can come later: the ready alert at once.
      {"nothing on the console",
       {},
       kConsole,
       false,
       kConsole,
       AppDelegate::Mode::apply,
       AppDelegate::Arrival::atLaunchOnly,
       milliseconds(0)},
      {"--console",
       {QStringLiteral("--console")},
       kConsole,
       true,
       kConsole,
       AppDelegate::Mode::apply,
       AppDelegate::Arrival::atLaunchOnly,
       milliseconds(0)},
      // A check never shows a dialog, even with a display there.
      {"--check",
       {QStringLiteral("--check"), link},
       kDialogs,
       std::nullopt,
       kConsole,
       AppDelegate::Mode::check,
       AppDelegate::Arrival::atLaunchOnly,
       kReadyCheckDelay},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const CommandLine line = parseCommandLine(c.arguments);
    ASSERT_TRUE(line.error.isEmpty());
    std::optional<bool> told;
    const Launch launch = planLaunch(line, QStringLiteral("/work"), [&](bool forceConsole) {
      told = forceConsole;
      return c.probed;
    });
    EXPECT_EQ(told, c.forcedConsole);
    EXPECT_EQ(launch.display, c.display);
    EXPECT_EQ(launch.dialogs(), c.display.frontEnd == FrontEndKind::dialogs);
    EXPECT_EQ(launch.mode, c.mode);
    EXPECT_EQ(launch.arrival, c.arrival);
    EXPECT_EQ(launch.readyCheckDelay, c.readyCheckDelay);
    EXPECT_EQ(launch.event.kind,
              c.arguments.contains(link) ? OpenEvent::Kind::urls : OpenEvent::Kind::none);
  }
}

TEST(PlanLaunch, RelativePathsAreTakenAgainstTheWorkingDirectory) {
  const Launch launch = planLaunch(parseCommandLine({QStringLiteral("skins/a.velmora")}),
                                   QStringLiteral("/work"), [](bool) { return kConsole; });
  EXPECT_EQ(launch.event.kind, OpenEvent::Kind::files);
  EXPECT_EQ(launch.event.items, QStringList{QStringLiteral("/work/skins/a.velmora")});
}

}  // namespace
