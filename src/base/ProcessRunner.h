#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "base/Limits.h"

/// How a child's output becomes text.
enum class OutputText {
  strictUtf8,     ///< UTF-8; output that is not UTF-8 counts as none at all
  replaceInvalid  ///< UTF-8 with each invalid byte replaced by U+FFFD, so lines stay lines
};

/// Runs `executable` directly (no shell, no search path) with `arguments`,
/// its standard output and error joined, stdin and working directory
/// inherited, and `environment` (the process environment unless given).
/// Blocks until it exits. Returns the output (empty when `captureOutput` is
/// false), read as `text` says; throws PlatformError when it cannot start and
/// HelperError processFailed (trimmed output, or a fixed text) when it exits
/// non-zero or by a signal.
QString runProcess(const QString& executable, const QStringList& arguments, bool captureOutput,
                   OutputText text = OutputText::strictUtf8,
                   const QProcessEnvironment& environment =
                       QProcessEnvironment(QProcessEnvironment::InheritFromParent));
