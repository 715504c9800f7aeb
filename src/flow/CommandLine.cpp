#include "flow/CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "base/PathBytes.h"
#include "link/SkinLink.h"

CommandLine parseCommandLine(const QStringList& arguments) {
  CommandLine line;
  qsizetype i = 0;
  for (; i < arguments.size(); ++i) {
    const QString& argument = arguments.at(i);
    if (argument == u"--") {
      ++i;
      break;
    }
    if (!argument.startsWith(u'-') || argument == u"-") break;
    if (argument == u"--console") {
      line.console = true;
    } else if (argument == u"--check") {
      line.check = true;
    } else if (argument == u"--help" || argument == u"-h") {
      line.help = true;
    } else if (argument == u"--version") {
      line.version = true;
    } else {
      line.error = QStringLiteral("unknown option '%1' (try --help)").arg(argument);
      return line;
    }
  }
  line.inputs = arguments.mid(i);
  if (line.check && !line.help && !line.version && line.inputs.size() != 1) {
    line.error = QStringLiteral("--check takes exactly one link or file");
  }
  return line;
}

OpenEvent openEventFor(const QStringList& inputs, const QString& workingDirectory) {
  OpenEvent event;
  if (inputs.isEmpty()) return event;
  const QDir base(workingDirectory);
  bool anyUrl = false;
  QStringList urls;
  QStringList paths;
  for (const QString& input : inputs) {
    const QString path = base.absoluteFilePath(input);
    // A file called "Aurora:v2.velmora" begins like a URI scheme; the file
    // that exists wins over that reading.
    if (!uriScheme(input).isEmpty() && !QFileInfo::exists(path)) {
      anyUrl = true;
      urls.append(input);
    } else {
      paths.append(path);
      urls.append(fileUrlOfPath(path));
    }
  }
  event.kind = anyUrl ? OpenEvent::Kind::urls : OpenEvent::Kind::files;
  event.items = anyUrl ? urls : paths;
  return event;
}

QString usageText() {
  return QStringLiteral(
      "Usage: velmora-helper [--console] [--check] [--] [INPUT...]\n"
      "       velmora-helper --help | --version\n"
      "\n"
      "Applies an Orvane skin from a velmora:// link or a .velmora package.\n"
      "\n"
      "  --console  use the terminal even when a display is available\n"
      "  --check    check one INPUT (download or extract it) and print the skin\n"
      "             it would apply, without asking or running the engine\n"
      "  --help     show this text\n"
      "  --version  show the version\n"
      "\n"
      "Exit status: 0 applied (or the ready alert), 1 refused or failed,\n"
      "2 usage error or nothing to do, 3 cancelled.\n");
}
