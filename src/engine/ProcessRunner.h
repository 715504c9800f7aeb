#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

/// The most output kept from one child; more is read and dropped so the child
/// never blocks, and an alert never has to show megabytes.
constexpr qsizetype kMaxKeptProcessOutput = 1 << 20;

/// Runs `executable` directly (no shell, no search path) with `arguments`,
/// its standard output and error joined, stdin and working directory
/// inherited, and `environment` (the process environment unless given).
/// Blocks until it exits. Returns the output (empty when `captureOutput` is
/// false); throws PlatformError when it cannot start and HelperError
/// processFailed (trimmed output, or a fixed text) when it exits non-zero or
/// by a signal.
QString runProcess(const QString& executable, const QStringList& arguments, bool captureOutput,
                   const QProcessEnvironment& environment =
                       QProcessEnvironment(QProcessEnvironment::InheritFromParent));
