#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "request/SkinRequest.h"

/// The home directory: `homeVariable` (the value of HOME) when it is an
/// absolute path, else the account's home that `accountHome` looks up in the
/// password database, when it has an absolute one; empty when neither does.
/// `accountHome` is asked only when HOME does not do.
QString homeDirectory(const QString& homeVariable,
                      const std::function<std::optional<QString>()>& accountHome);

/// The home directory of the account this process runs as, from the password
/// database; nullopt when the account has no entry.
std::optional<QString> accountHomeDirectory();

/// The engine script, .orvane/orvane-theme-forge/scripts/customize-theme-macos.sh
/// under the home directory that `environment` gives (see homeDirectory);
/// empty when there is no home directory.
QString engineScriptPath(const QProcessEnvironment& environment);

/// The engine's command line for one skin: ten arguments, option then value.
QStringList engineArguments(const QString& name, const QString& imagePath, const QString& accent,
                            const QString& secondary, const QString& highlight);

/// Runs the engine once with `request`'s values (its image a local file) and waits for it. The
/// engine is found through, and started with exactly, `environment`: the environment the helper was
/// started with, never what the process environment holds by now. Throws HelperError engineMissing
/// when the script is not an executable file, and whatever runProcess throws. Call off the main
/// thread.
void applySkin(const SkinRequest& request, const QProcessEnvironment& environment);
