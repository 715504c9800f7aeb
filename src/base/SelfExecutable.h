#pragma once
#include <QString>

/// The absolute path of the running program's own file; works before any
/// QCoreApplication exists.
QString executablePath();
