#include "base/SystemError.h"

#include <QtGlobal>

QString systemErrorText(const QString& subject, int errorNumber) {
  return subject + QStringLiteral(": ") + qt_error_string(errorNumber);
}
