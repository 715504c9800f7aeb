#include "app/DialogFrontEnd.h"

#include "support/ModalBox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <ostream>

/// Lets failure messages show texts instead of bytes.
static void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

void click(QMessageBox& box, const QString& text) {
  if (QPushButton* button = buttonNamed(box, text)) button->click();
}

/// The texts of all labels that show text, in widget order, each of which
/// must show its text literally.
QStringList plainLabelTexts(QMessageBox& box) {
  QStringList texts;
  for (QLabel* label : box.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    texts.append(label->text());
  }
  return texts;
}

/// What the user sees of a box, captured while it was shown.
struct Seen {
  QString windowTitle;
  QStringList labels;
  QStringList buttons;
  QList<QMessageBox::ButtonRole> roles;
  QString defaultButton;
  QString escapeButton;
  QMessageBox::Icon icon = QMessageBox::Information;
  Qt::WindowModality modality = Qt::NonModal;
};

Seen look(QMessageBox& box) {
  Seen seen;
  seen.windowTitle = box.windowTitle();
  seen.labels = plainLabelTexts(box);
  for (QAbstractButton* button : box.buttons()) {
    seen.buttons.append(button->text());
    seen.roles.append(box.buttonRole(button));
  }
  if (box.defaultButton() != nullptr) seen.defaultButton = box.defaultButton()->text();
  if (box.escapeButton() != nullptr) seen.escapeButton = box.escapeButton()->text();
  seen.icon = box.icon();
  seen.modality = box.windowModality();
  return seen;
}

void saveScreenshot(QMessageBox& box, const QString& file) {
  const QString directory = qEnvironmentVariable("VELMORA_SCREENSHOT_DIR");
  if (directory.isEmpty()) return;
  QDir().mkpath(directory);
  EXPECT_TRUE(box.grab().save(QDir(directory).filePath(file)));
}

TEST(DialogFrontEnd, EveryAlertKindShowsItsTextsAndButtons) {
  struct Case {
    const char* screenshot;
    bool confirmation;
    QString title;
    QString text;
  };
  const Case cases[] = {
      {"ready.png", false, "Velmora Helper is ready",
       "Choose a skin on velmora.app and click Apply to Orvane."},
      {"confirm.png", true, "Apply Aurora to Orvane?",
       "Velmora Helper will use the local open-source engine and may restart Orvane."},
      {"invalid-link.png", false, "Invalid skin link",
       "Velmora Helper only downloads HTTPS images from velmora.app."},
      {"invalid-package.png", false, "Invalid Orvane skin",
       "The skin package contains an unsafe path."},
      {"applied.png", false, "Skin applied", "Orvane is reopening with Aurora."},
      {"failed.png", false, "Could not apply skin",
       "Velmora engine is missing. Run the Velmora installer again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.screenshot);
    Seen seen;
    whenBoxShown([&](QMessageBox& box) {
      seen = look(box);
      saveScreenshot(box, QString::fromLatin1(c.screenshot));
      box.defaultButton()->click();
    });
    DialogFrontEnd frontEnd;
    if (c.confirmation) {
      EXPECT_TRUE(frontEnd.askToApply(c.title, c.text));
    } else {
      frontEnd.showAlert(c.title, c.text);
    }

    EXPECT_EQ(seen.windowTitle, "Velmora Helper");
    EXPECT_EQ(seen.labels, QStringList({c.title, c.text}));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    if (c.confirmation) {
      EXPECT_EQ(seen.buttons, QStringList({"Apply skin", "Cancel"}));
      EXPECT_EQ(seen.roles, QList({QMessageBox::AcceptRole, QMessageBox::RejectRole}));
      EXPECT_EQ(seen.defaultButton, "Apply skin");
      EXPECT_EQ(seen.escapeButton, "Cancel");
    } else {
      EXPECT_EQ(seen.buttons, QStringList({"OK"}));
      EXPECT_EQ(seen.defaultButton, "OK");
    }
  }
}

TEST(DialogFrontEnd, OnlyApplySkinConfirms) {
  struct Case {
    const char* what;
    BoxAction answer;
    bool expected;
  };
  const Case cases[] = {
      {"click Apply skin", [](QMessageBox& box) { click(box, "Apply skin"); }, true},
      {"Return takes the default", [](QMessageBox& box) { pressKey(box, Qt::Key_Return); }, true},
      {"click Cancel", [](QMessageBox& box) { click(box, "Cancel"); }, false},
      {"Escape", [](QMessageBox& box) { pressKey(box, Qt::Key_Escape); }, false},
      {"close the window", [](QMessageBox& box) { box.close(); }, false},
      {"reject", [](QMessageBox& box) { box.reject(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    whenBoxShown(c.answer);
    DialogFrontEnd frontEnd;
    EXPECT_EQ(frontEnd.askToApply("Apply Aurora to Orvane?", "detail"), c.expected);
  }
}

TEST(DialogFrontEnd, AlertReturnsOnceDismissed) {
  const std::pair<const char*, BoxAction> dismissals[] = {
      {"OK", [](QMessageBox& box) { click(box, "OK"); }},
      {"Return", [](QMessageBox& box) { pressKey(box, Qt::Key_Return); }},
      {"Escape", [](QMessageBox& box) { pressKey(box, Qt::Key_Escape); }},
      {"close", [](QMessageBox& box) { box.close(); }},
  };
  for (const auto& [what, dismiss] : dismissals) {
    SCOPED_TRACE(what);
    bool shown = false;
    whenBoxShown([&shown, dismiss](QMessageBox& box) {
      shown = true;
      dismiss(box);
    });
    DialogFrontEnd().showAlert("Skin applied", "Orvane is reopening with Aurora.");
    EXPECT_TRUE(shown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

TEST(DialogFrontEnd, MarkupInTextsIsShownLiterally) {
  const QString title = "Apply <b>Bold</b> to Orvane?";
  const QString text = "<img src=x> & <a href=\"https://example.com\">link</a>";
  QStringList alertLabels;
  QStringList confirmationLabels;

  whenBoxShown([&](QMessageBox& box) {
    alertLabels = plainLabelTexts(box);
    box.accept();
  });
  DialogFrontEnd().showAlert(title, text);
  whenBoxShown([&](QMessageBox& box) {
    confirmationLabels = plainLabelTexts(box);
    box.reject();
  });
  DialogFrontEnd().askToApply(title, text);

  EXPECT_EQ(alertLabels, QStringList({title, text}));
  EXPECT_EQ(confirmationLabels, QStringList({title, text}));
}

TEST(DialogFrontEnd, OnlyTheHelperBreaksLines) {
  // A name from a link must not draw lines of its own under the question;
  // the detail (an engine's output) keeps its line feeds.
  const QString title = QStringLiteral("Apply Aurora\u2028\u2028Verified\nby us to Orvane?");
  const QString text = QStringLiteral("first line\nsecond\u2029third\rfourth");
  QStringList labels;
  whenBoxShown([&](QMessageBox& box) {
    labels = plainLabelTexts(box);
    box.reject();
  });
  DialogFrontEnd().askToApply(title, text);
  EXPECT_EQ(labels, QStringList({"Apply Aurora\\u2028\\u2028Verified\\x0aby us to Orvane?",
                                 "first line\nsecond\\u2029third\\x0dfourth"}));
}

TEST(DialogFrontEnd, ALentTokenGoesToTheNextAlertOnlyAndTheEnvironmentIsNeverWritten) {
  for (const QString& own : {QStringLiteral("(unset)"), QStringLiteral("own-token")}) {
    SCOPED_TRACE(own.toStdString());
    if (own == u"(unset)") {
      qunsetenv("XDG_ACTIVATION_TOKEN");
    } else {
      qputenv("XDG_ACTIVATION_TOKEN", own.toUtf8());
    }
    int alert = 0;
    QStringList handedOn;  // token, and the alert whose shown window got it
    DialogFrontEnd ui([&](QWindow& window, const QString& token) {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      EXPECT_TRUE(window.isVisible() && box != nullptr && box->windowHandle() == &window);
      EXPECT_EQ(qEnvironmentVariable("XDG_ACTIVATION_TOKEN", QStringLiteral("(unset)")), own);
      handedOn.append(token + QStringLiteral(" to alert ") + QString::number(alert));
      return true;
    });
    ui.setActivationToken(QStringLiteral("lent-token"));
    QStringList whileOpen;
    for (alert = 0; alert < 2; ++alert) {
      whenBoxShown([&](QMessageBox& box) {
        whileOpen.append(qEnvironmentVariable("XDG_ACTIVATION_TOKEN", QStringLiteral("(unset)")));
        box.accept();
      });
      ui.showAlert(QStringLiteral("Velmora Helper is busy"), QString());
    }
    EXPECT_EQ(handedOn, QStringList{QStringLiteral("lent-token to alert 0")});
    EXPECT_EQ(whileOpen, (QStringList{own, own}));
    EXPECT_EQ(qEnvironmentVariable("XDG_ACTIVATION_TOKEN", QStringLiteral("(unset)")), own);
  }
  qunsetenv("XDG_ACTIVATION_TOKEN");
}

}  // namespace
