#pragma once
#include <QIcon>

/// The helper's icon, built into the program: every alert's and the progress
/// window's window icon, and the picture of the notices.
QIcon helperIcon();
