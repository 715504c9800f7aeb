#include "dialogs/ProgressWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

struct Seen {
  QString heading;
  int minimum = -1;
  int maximum = -1;
  int value = -1;
  QString amount;
  bool cancelShown = false;
};

Seen look(ProgressWindow& window) {
  Seen seen;
  const QList<QLabel*> labels = window.findChildren<QLabel*>();
  for (QLabel* label : labels) {
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    if (label->font().bold()) seen.heading = label->text();
    if (!label->font().bold() && label->isVisible()) seen.amount += label->text();
  }
  auto* bar = window.findChild<QProgressBar*>();
  seen.minimum = bar->minimum();
  seen.maximum = bar->maximum();
  seen.value = bar->value();
  auto* buttons = window.findChild<QDialogButtonBox*>();
  seen.cancelShown = buttons->isVisible() && buttons->buttons().size() == 1 &&
                     buttons->buttons()[0]->text() == QStringLiteral("Cancel");
  return seen;
}

void pressEscape(QWidget& window) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&window, &press);
}

TEST(ProgressWindow, ShowsTheDownloadThenTheEngineRun) {
  ProgressWindow window(QStringLiteral("Aurora <b>"));
  window.show();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Velmora Helper"));
  EXPECT_GE(window.width(), 360);

  Seen seen = look(window);
  EXPECT_EQ(seen.heading, QStringLiteral("Downloading Aurora <b>…"));
  EXPECT_EQ(seen.maximum, 0) << "busy until the size is known";
  EXPECT_TRUE(seen.cancelShown);

  window.setReceived(512 * 1024, 2 * 1024 * 1024);
  seen = look(window);
  EXPECT_EQ(std::tuple(seen.minimum, seen.maximum, seen.value), std::tuple(0, 2048, 512));
  EXPECT_EQ(seen.amount, QStringLiteral("0.5 MiB of 2.0 MiB"));

  window.setReceived(3 * 1024 * 1024, -1);
  seen = look(window);
  EXPECT_EQ(seen.maximum, 0);
  EXPECT_EQ(seen.amount, QStringLiteral("3.0 MiB"));

  window.showApplying();
  seen = look(window);
  EXPECT_EQ(seen.heading, QStringLiteral("Applying Aurora <b>…"));
  EXPECT_EQ(seen.maximum, 0);
  EXPECT_FALSE(seen.cancelShown);
  EXPECT_EQ(seen.amount, QString());
}

TEST(ProgressWindow, CancelEscapeOrClosingStopOnlyTheDownload) {
  const std::pair<const char*, std::function<void(ProgressWindow&)>> ways[] = {
      {"Cancel",
       [](ProgressWindow& w) { w.findChild<QDialogButtonBox*>()->buttons()[0]->click(); }},
      {"Escape", pressEscape},
      {"close", [](ProgressWindow& w) { w.close(); }},
  };
  for (const auto& [what, stop] : ways) {
    SCOPED_TRACE(what);
    ProgressWindow window(QStringLiteral("Aurora"));
    int cancels = 0;
    QObject::connect(&window, &ProgressWindow::cancelRequested, [&] { ++cancels; });
    window.show();
    stop(window);
    stop(window);
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(window.isVisible());

    ProgressWindow applying(QStringLiteral("Aurora"));
    QObject::connect(&applying, &ProgressWindow::cancelRequested, [&] { ++cancels; });
    applying.show();
    applying.showApplying();
    pressEscape(applying);
    applying.close();
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(applying.isVisible()) << "the engine run cannot be stopped";
  }
}

}  // namespace
