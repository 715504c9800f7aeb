#include "session/SingleInstanceGate.h"

#include <cstdio>

#include "engine/SkinEngine.h"
#include "flow/AppDelegate.h"
#include "session/InstanceDirectory.h"
#include "session/SingleInstance.h"

namespace {

void printProblem(const QString& problem) {
  std::fputs((QStringLiteral("velmora-helper: ") + problem + u'\n').toLocal8Bit().constData(),
             stderr);
}

}  // namespace

SingleInstanceGate::SingleInstanceGate() = default;

SingleInstanceGate::~SingleInstanceGate() = default;

std::optional<int> SingleInstanceGate::claim(const QByteArray& platform, const OpenEvent& event) {
  // A launch with nothing to hand over shows its own ready alert.
  if (event.kind == OpenEvent::Kind::none) return std::nullopt;
  // The user's runtime directory, or a private one of theirs; never one that
  // another user made first, which would let two instances run apart.
  QString problem;
  const QString directory =
      instanceDirectory(qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/tmp"),
                        homeDirectory(qEnvironmentVariable("HOME"), accountHomeDirectory), problem);
  if (directory.isEmpty()) {
    printProblem(problem);
    return std::nullopt;
  }
  instance_ = std::make_unique<SingleInstance>(directory, singleInstanceNameFor(platform));
  const HandOver handOver{event, qEnvironmentVariable("XDG_ACTIVATION_TOKEN")};
  switch (instance_->claim(handOver)) {
    case SingleInstance::Claim::first:
      break;
    case SingleInstance::Claim::handedOver:
      return 0;
    case SingleInstance::Claim::busy:
      busy_ = true;
      instance_.reset();
      break;
    case SingleInstance::Claim::unanswered:
      printProblem(instance_->problem());
      return kExitFailed;
    case SingleInstance::Claim::unavailable:
      printProblem(instance_->problem());
      instance_.reset();
      break;
  }
  return std::nullopt;
}

void SingleInstanceGate::serve(AppDelegate& delegate, const LendToken& lendToken) {
  if (instance_ && !instance_->listen()) {
    printProblem(instance_->problem());
    instance_.reset();
  }
  if (!instance_) return;
  // Once this run has ended, a later launch waits and takes its place
  // instead of handing over inputs that would never be looked at. While the
  // download or the engine runs a later launch is told so, and its input is
  // not taken up; at any other time it is taken, and held until no alert is
  // open.
  instance_->setAnswer([&delegate] {
    if (delegate.terminated()) return SingleInstance::Answer::refuse;
    if (delegate.operationInFlight()) return SingleInstance::Answer::busy;
    return SingleInstance::Answer::take;
  });
  QObject::connect(instance_.get(), &SingleInstance::received, &delegate,
                   [&delegate, lendToken](const HandOver& handOver) {
                     // The token is for the alert the event brings up: the
                     // next one shown, since events wait while one is open.
                     if (lendToken) lendToken(handOver.activationToken);
                     delegate.deliverWhenIdle(handOver.event);
                   });
}
