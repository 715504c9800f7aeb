#include "session/FileOpenRouter.h"

#include <QFileOpenEvent>

#include "flow/AppDelegate.h"

FileOpenRouter::FileOpenRouter(AppDelegate& delegate, QObject* parent)
    : QObject(parent), delegate_(delegate) {}

bool FileOpenRouter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::FileOpen) return QObject::eventFilter(watched, event);
  const auto* open = static_cast<QFileOpenEvent*>(event);
  const QUrl url = open->file().isEmpty() ? open->url() : QUrl::fromLocalFile(open->file());
  // Cocoa may deliver this while an alert runs its own loop: the delegate
  // holds it back until no alert is open.
  delegate_.deliverWhenIdle(OpenEvent{OpenEvent::Kind::urls, {url.toString(QUrl::FullyEncoded)}});
  return true;
}
