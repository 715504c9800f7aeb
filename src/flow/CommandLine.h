#pragma once
#include <QString>
#include <QStringList>

/// What the command line asks for.
struct CommandLine {
  bool console = false;  ///< --console: use the console front end even with a display
  bool check = false;    ///< --check: validate one input and print its request
  bool help = false;     ///< --help
  bool version = false;  ///< --version
  QStringList inputs;    ///< links and file paths, in order
  QString error;         ///< a usage error, one line; empty when the line is valid
};

/// Reads the arguments after the program name: options first, "--" ends them.
CommandLine parseCommandLine(const QStringList& arguments);

/// The open event that a launch's inputs form.
struct OpenEvent {
  enum class Kind { none, urls, files };
  Kind kind = Kind::none;
  QStringList items;  ///< URLs (paths made file URLs) or absolute paths
};

/// Classifies inputs: one that names an existing file is that file; otherwise
/// one that begins with a URI scheme is a URL, anything else a path. Any URL
/// makes one open-URL event with every input in order (paths as file URLs);
/// only paths make an open-files event; relative paths are made absolute
/// against `workingDirectory`.
OpenEvent openEventFor(const QStringList& inputs, const QString& workingDirectory);

/// The --help text.
QString usageText();
