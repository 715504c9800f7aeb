#pragma once
#include <QString>
#include <QStringList>
#include <QUrl>

/// The engine script: $HOME/.orvane/orvane-theme-forge/scripts/customize-theme-macos.sh.
QString engineScriptPath();

/// The engine's command line for one skin: ten arguments, option then value.
QStringList engineArguments(const QString& name, const QString& imagePath, const QString& accent,
                            const QString& secondary, const QString& highlight);

/// Runs the engine once with the skin's values and waits for it. Throws
/// HelperError engineMissing when the script is not an executable file, and
/// whatever runProcess throws. Call off the main thread.
void applySkin(const QString& name, const QUrl& image, const QString& accent,
               const QString& secondary, const QString& highlight);
