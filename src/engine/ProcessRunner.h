#pragma once
#include <QString>
#include <QStringList>

#include "base/Limits.h"

/// Runs `executable` directly (no shell, no search path) with `arguments`,
/// its standard output and error joined, stdin, environment and working
/// directory inherited. Blocks until it exits. Returns the output (empty when
/// `captureOutput` is false); throws PlatformError when it cannot start and
/// HelperError processFailed (trimmed output, or a fixed text) when it exits
/// non-zero or by a signal.
QString runProcess(const QString& executable, const QStringList& arguments, bool captureOutput);
