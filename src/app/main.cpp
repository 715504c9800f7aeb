// Entry point: reads the command line, picks the front end, and runs the
// delegate on the main thread until a flow ends the application.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QProcessEnvironment>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "BuildConfig.h"
#include "base/Confinement.h"
#include "base/PathBytes.h"
#include "base/SystemRoom.h"
#include "console/ConsoleFrontEnd.h"
#include "dialogs/DialogFrontEnd.h"
#include "dialogs/HelperIcon.h"
#include "flow/AlertText.h"
#include "flow/AppDelegate.h"
#include "flow/ApplyEffects.h"
#include "flow/BusyAlert.h"
#include "flow/CommandLine.h"
#include "package/PackageReader.h"
#include "session/DisplayProbe.h"
#include "session/FileOpenRouter.h"
#include "session/Launch.h"
#include "session/RunSignals.h"
#include "session/SingleInstanceGate.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
  QStringList arguments;
  // A file name need not be UTF-8: every byte of it is kept.
  for (int i = 1; i < argc; ++i) arguments.append(pathFromBytes(QByteArray(argv[i])));
  return arguments;
}

void print(std::FILE* file, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), file);
}

}  // namespace

int main(int argc, char** argv) {
  // The engine is started with exactly the environment the helper was started
  // with, taken before anything changes it: Qt's platform plugins set and
  // remove variables of their own.
  const QProcessEnvironment startEnvironment = QProcessEnvironment::systemEnvironment();
  const CommandLine line = parseCommandLine(argumentsOf(argc, argv));
  if (!line.error.isEmpty()) {
    // The error quotes the argument, which may hold terminal escape sequences.
    print(stderr, QStringLiteral("velmora-helper: ") + displaySafe(line.error, false) + u'\n');
    return kExitUsage;
  }
  if (line.help) {
    print(stdout, usageText());
    return 0;
  }
  if (line.version) {
    // The second line says how packages are read here, for bug reports.
    print(stdout, QStringLiteral("velmora-helper " VELMORA_VERSION "\nconfinement: ") +
                      confinementSummary() + u'\n');
    return 0;
  }

  const Launch launch = planLaunch(line, QDir::currentPath(), chooseDisplay);
  const bool dialogs = launch.dialogs();
  const OpenEvent& event = launch.event;
  if (dialogs && !roomForWindows()) {
    // Qt would abort or hang starting its windows: said where it can be.
    ConsoleFrontEnd().showAlert(
        AlertKind::problem, QStringLiteral("Could not apply skin"),
        QStringLiteral("Velmora Helper cannot open its windows: the system allows it too little "
                       "memory or too few open files."));
    return kExitFailed;
  }

  // One dialog instance per user and display takes up the inputs of later launches.
  auto gate = std::make_unique<SingleInstanceGate>();
  if (dialogs) {
    if (const std::optional<int> status = gate->claim(launch.display.platform, event))
      return *status;
  }

  // From here on a signal ends the run only once what it made is taken back.
  RunSignals runSignals;

  // The reader of the launch's own package starts now and works while Qt
  // starts up; only a launch that stays (not one handed over) gets here.
  std::unique_ptr<PendingPackage> launchPackage;
  if (event.kind == OpenEvent::Kind::files) {
    launchPackage = std::make_unique<PendingPackage>(event.items.first());
  }

  // Qt is given no arguments of ours, so that an input such as "-display" is
  // never taken as one of Qt's own options; only the platform the probe chose.
  // The environment stays as the helper was started with it, for the engine.
  QByteArray platform = launch.display.platform;
  QByteArray platformOption("-platform");
  std::vector<char*> qtArgv{argv[0]};
  if (dialogs && !platform.isEmpty()) {
    qtArgv.push_back(platformOption.data());
    qtArgv.push_back(platform.data());
  }
  int qtArgc = static_cast<int>(qtArgv.size());
  qtArgv.push_back(nullptr);
  std::unique_ptr<QCoreApplication> app;
  std::unique_ptr<FrontEnd> ui;
  DialogFrontEnd* dialogFrontEnd = nullptr;
  std::unique_ptr<SignalEndedFrontEnd> runFrontEnd;
  if (dialogs) {
    auto guiApp = std::make_unique<QApplication>(qtArgc, qtArgv.data());
    // Alerts are the only windows: closing one must not end the run by itself.
    guiApp->setQuitOnLastWindowClosed(false);
    // Ties the alerts to velmora-helper.desktop (its icon, Wayland's app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora-helper"));
    QApplication::setWindowIcon(helperIcon());
    app = std::move(guiApp);
    auto shown = std::make_unique<DialogFrontEnd>();
    dialogFrontEnd = shown.get();
    ui = std::move(shown);
  } else {
    app = std::make_unique<QCoreApplication>(qtArgc, qtArgv.data());
    auto console = std::make_unique<ConsoleFrontEnd>();
    // A signal at the question answers it.
    console->cancelAnswerOnceReadable(runSignals.descriptor());
    ui = std::move(console);
  }
  // Everything is shown through this, so that a signal ends the run cleanly.
  runFrontEnd = std::make_unique<SignalEndedFrontEnd>(*ui, runSignals);
  const auto exitStatus = [&runSignals](int status) {
    const int signal = runSignals.received();
    return signal != 0 ? exitStatusAfterSignal(signal, status) : status;
  };
  QCoreApplication::setApplicationName(QStringLiteral("Velmora Helper"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
  if (gate->answeredBusy()) {
    // Said in a dialog of this launch, which may take the focus.
    showBusyAlert(*runFrontEnd);
    return exitStatus(kExitFailed);
  }

  SystemApplyEffects effects(startEnvironment);
  AppDelegate delegate(
      *runFrontEnd, effects, launch.mode,
      [](const SkinRequest& request) { ConsoleFrontEnd().printRequest(request); }, launch.arrival);
  delegate.expectPackage(std::move(launchPackage));
  delegate.applicationDidFinishLaunching(launch.readyCheckDelay);

  if (dialogs) app->installEventFilter(new FileOpenRouter(delegate, app.get()));
  gate->serve(delegate, [dialogFrontEnd](const QString& token) {
    if (dialogFrontEnd != nullptr) dialogFrontEnd->setActivationToken(token);
  });

  QTimer::singleShot(0, &delegate, [&delegate, event] { delegate.open(event); });
  const int status = app->exec();
  gate.reset();
  return exitStatus(status);
}
