#pragma once
// Runs the application's event loop for one delegate test.
#include <QCoreApplication>
#include <QTimer>
#include <functional>

#include "flow/AppDelegate.h"

/// Runs the event loop with `start` as its first event and returns the status
/// the delegate ended it with (99: it never ended within `giveUpAfterMs`).
inline int runDelegate(AppDelegate& delegate, std::function<void()> start,
                       int giveUpAfterMs = 5000) {
  QTimer::singleShot(0, &delegate, std::move(start));
  QTimer giveUp;
  giveUp.setSingleShot(true);
  QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  giveUp.start(giveUpAfterMs);
  return QCoreApplication::exec();
}
