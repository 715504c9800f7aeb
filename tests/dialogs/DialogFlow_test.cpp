// The flows with the real dialog front end: what a person sees and how their
// answer ends the application.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QTemporaryDir>

#include "dialogs/DialogFrontEnd.h"
#include "flow/AppDelegate.h"
#include "support/FakeApplyEffects.h"
#include "support/ModalBox.h"

namespace {

QStringList visibleTexts(QMessageBox& box) {
  QStringList texts;
  for (QLabel* label : box.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) texts.append(label->text());
  }
  return texts;
}

TEST(DialogFlow, RefusedPackageShowsInvalidOrvaneSkinAndEndsAfterOk) {
  DialogFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  QStringList seen;
  whenBoxShown([&](QMessageBox& box) {
    seen = visibleTexts(box);
    if (QPushButton* ok = buttonNamed(box, QStringLiteral("OK"))) ok->click();
  });
  QTimer::singleShot(0, &delegate,
                     [&] { delegate.openFiles({QStringLiteral("/nonexistent/Aurora.zip")}); });
  EXPECT_EQ(QCoreApplication::exec(), kExitFailed);
  EXPECT_EQ(seen, (QStringList{QStringLiteral("Invalid Orvane skin"),
                               QStringLiteral("Choose a .velmora package.")}));
}

TEST(DialogFlow, CancelEndsWithStatusThreeAndNoFurtherAlert) {
  DialogFrontEnd ui;
  FakeApplyEffects effects;
  AppDelegate delegate(ui, effects);
  int boxes = 0;
  whenBoxShown([&](QMessageBox& box) {
    ++boxes;
    EXPECT_EQ(visibleTexts(box).value(0), QStringLiteral("Apply <b>Bold</b> to Orvane?"));
    pressKey(box, Qt::Key_Escape);
  });
  QTimer::singleShot(0, &delegate, [&] {
    delegate.openUrls({QStringLiteral(
        "velmora://apply?image=https://velmora.app/a.png&name=%3Cb%3EBold%3C/b%3E")});
  });
  EXPECT_EQ(QCoreApplication::exec(), kExitCancelled);
  EXPECT_EQ(boxes, 1);
}

}  // namespace
