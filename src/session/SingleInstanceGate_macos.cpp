#include "session/SingleInstanceGate.h"

#include "session/SingleInstance.h"

SingleInstanceGate::SingleInstanceGate() = default;
SingleInstanceGate::~SingleInstanceGate() = default;

std::optional<int> SingleInstanceGate::claim(const QByteArray&, const OpenEvent&) {
  return std::nullopt;
}

void SingleInstanceGate::serve(AppDelegate&, const LendToken&) {}
