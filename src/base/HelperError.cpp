#include "base/HelperError.h"

Failure::Failure(QString description)
    : description_(std::move(description)), utf8_(description_.toStdString()) {}

HelperError HelperError::invalidRequest(const QString& message) {
  return HelperError(Case::invalidRequest, message);
}

HelperError HelperError::processFailed(const QString& message) {
  return HelperError(Case::processFailed, message);
}

void refuse(const char* message) {
  throw HelperError::invalidRequest(QString::fromUtf8(message));
}

HelperError HelperError::engineMissing() {
  return HelperError(Case::engineMissing,
                     QStringLiteral("Velmora engine is missing. Run the Velmora installer again."));
}
