#pragma once
// Drives the helper's real modal message boxes in tests (offscreen platform):
// nobody has to click, and a box left open cannot hang the test program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>

using BoxAction = std::function<void(QMessageBox&)>;

/// Once a message box is shown modally, runs `action` on it. A box still open
/// two seconds later is closed and the test fails, so a missed click cannot
/// hang the test program.
inline void whenBoxShown(BoxAction action) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, action = std::move(action)] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    const QPointer<QMessageBox> shown(box);
    action(*box);
    QTimer::singleShot(2000, [shown] {
      if (shown && shown->isVisible()) {
        ADD_FAILURE() << "the message box is still open";
        shown->done(0);
      }
    });
  });
  poll->start();
}

inline void pressKey(QMessageBox& box, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(&box, &press);
}

inline QPushButton* buttonNamed(QMessageBox& box, const QString& text) {
  for (QAbstractButton* button : box.buttons()) {
    if (button->text() == text) return qobject_cast<QPushButton*>(button);
  }
  ADD_FAILURE() << "no button " << text.toStdString();
  return nullptr;
}
