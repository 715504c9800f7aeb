#pragma once
#include <QString>

/// `subject` followed by ": " and the system's description of `errorNumber`,
/// the way command-line tools report a failed file operation.
QString systemErrorText(const QString& subject, int errorNumber);
