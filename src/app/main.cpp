// Entry point: reads the command line, picks the front end, and runs the
// delegate on the main thread until a flow ends the application.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "BuildConfig.h"
#include "app/AlertText.h"
#include "app/AppDelegate.h"
#include "app/BusyAlert.h"
#include "app/CommandLine.h"
#include "app/ConsoleFrontEnd.h"
#include "app/DialogFrontEnd.h"
#include "app/DisplayProbe.h"
#include "app/FileOpenRouter.h"
#include "app/SingleInstance.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  return arguments;
}

void print(std::FILE* file, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), file);
}

}  // namespace

int main(int argc, char** argv) {
  // The engine is started with exactly the environment the helper was started
  // with, taken before anything changes it: the display probe and Qt's
  // platform plugins set and remove variables of their own.
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
    print(stdout, QStringLiteral("velmora-helper " VELMORA_VERSION "\n"));
    return 0;
  }

  // --check never shows a dialog. Qt is given no arguments of ours, so that
  // an input such as "-display" is never taken as one of Qt's own options.
  const QByteArray platformWas = qgetenv("QT_QPA_PLATFORM");
  const bool platformWasSet = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
  const bool dialogs = !line.check && chooseFrontEnd(line.console) == FrontEndKind::dialogs;
  const OpenEvent event = openEventFor(line.inputs, QDir::currentPath());

  // One dialog instance per user and display takes up the inputs of later
  // launches; a launch with nothing to hand over shows its own ready alert.
  std::unique_ptr<SingleInstance> instance;
  bool busy = false;
#ifndef Q_OS_MACOS
  if (dialogs && event.kind != OpenEvent::Kind::none) {
    // XDG_RUNTIME_DIR, or a private directory Qt makes when it is not set.
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!directory.isEmpty()) {
      instance = std::make_unique<SingleInstance>(directory, currentSingleInstanceName());
    }
  }
  if (instance) {
    const HandOver handOver{event, qEnvironmentVariable("XDG_ACTIVATION_TOKEN")};
    switch (instance->claim(handOver)) {
      case SingleInstance::Claim::first:
        break;
      case SingleInstance::Claim::handedOver:
        return 0;
      case SingleInstance::Claim::busy:
        // Said in a dialog of this launch, which may take the focus.
        busy = true;
        instance.reset();
        break;
      case SingleInstance::Claim::unanswered:
        print(stderr, QStringLiteral("velmora-helper: ") + instance->problem() + u'\n');
        return kExitFailed;
      case SingleInstance::Claim::unavailable:
        print(stderr, QStringLiteral("velmora-helper: ") + instance->problem() + u'\n');
        instance.reset();
        break;
    }
  }
#endif

  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  std::unique_ptr<QCoreApplication> app;
  std::unique_ptr<FrontEnd> ui;
  if (dialogs) {
    auto guiApp = std::make_unique<QApplication>(qtArgc, qtArgv);
    // Alerts are the only windows: closing one must not end the run by itself.
    guiApp->setQuitOnLastWindowClosed(false);
    // Ties the alerts to velmora-helper.desktop (its icon, Wayland's app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora-helper"));
    QApplication::setWindowIcon(helperIcon());
    // The probe may have named the platform for Qt; the engine inherits the
    // environment the helper was started with, not that choice.
    if (platformWasSet) {
      qputenv("QT_QPA_PLATFORM", platformWas);
    } else {
      qunsetenv("QT_QPA_PLATFORM");
    }
    app = std::move(guiApp);
    ui = std::make_unique<DialogFrontEnd>();
  } else {
    app = std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    ui = std::make_unique<ConsoleFrontEnd>();
  }
  QCoreApplication::setApplicationName(QStringLiteral("Velmora Helper"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
  if (busy) {
    showBusyAlert(*ui);
    return kExitFailed;
  }

  const AppDelegate::Mode mode = line.check ? AppDelegate::Mode::check : AppDelegate::Mode::apply;
  AppDelegate delegate(
      *ui, mode, [](const SkinRequest& request) { ConsoleFrontEnd().printRequest(request); },
      startEnvironment);
  // A console run never receives an open event later: with no input the
  // ready alert is shown at once.
  delegate.applicationDidFinishLaunching(!dialogs && event.kind == OpenEvent::Kind::none
                                             ? std::chrono::milliseconds(0)
                                             : kReadyCheckDelay);

  if (dialogs) app->installEventFilter(new FileOpenRouter(delegate, app.get()));
  if (instance && !instance->listen()) {
    print(stderr, QStringLiteral("velmora-helper: ") + instance->problem() + u'\n');
    instance.reset();
  }
  if (instance) {
    // Once this run has ended, a later launch waits and takes its place
    // instead of handing over inputs that would never be looked at.
    // While a skin is being applied a later launch is told so, and its input
    // is not taken up.
    instance->setAnswer([&delegate] {
      if (delegate.terminated()) return SingleInstance::Answer::refuse;
      if (delegate.operationInFlight()) return SingleInstance::Answer::busy;
      return SingleInstance::Answer::take;
    });
    QObject::connect(instance.get(), &SingleInstance::received, &delegate,
                     [&delegate](const HandOver& handOver) {
                       delegate.deliverWhenIdle(handOver.event, handOver.activationToken);
                     });
  }

  QTimer::singleShot(0, &delegate, [&delegate, event] { delegate.open(event); });
  const int status = app->exec();
  instance.reset();
  return status;
}
