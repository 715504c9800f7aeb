#include "dialogs/DialogFrontEnd.h"

#include "dialogs/ProgressWindow.h"
#include "dialogs/SkinDetailsView.h"
#include "package/PackageReader.h"
#include "package/PackageThumbnail.h"

#include "support/ModalBox.h"
#include "support/TestPackages.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMap>
#include <QMessageBox>
#include <QPalette>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>
#include <QtEndian>

#include <cmath>
#include <functional>
#include <ostream>
#include <thread>

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
  bool hasPixmapIcon = false;
  bool boldHeading = false;
  int width = 0;
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
  seen.hasPixmapIcon = !box.iconPixmap().isNull();
  if (auto* heading = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
    seen.boldHeading = heading->font().bold();
  }
  seen.width = box.width();
  seen.modality = box.windowModality();
  return seen;
}

const ConfirmationDetails kLinkDetails{"velmora.app", "#c5533a", "#e28a78", "#8a6cff", {}};

void saveScreenshot(QMessageBox& box, const QString& file) {
  const QString directory = qEnvironmentVariable("VELMORA_SCREENSHOT_DIR");
  if (directory.isEmpty()) return;
  QDir().mkpath(directory);
  EXPECT_TRUE(box.grab().save(QDir(directory).filePath(file)));
}

TEST(DialogFrontEnd, EveryAlertKindShowsItsTextsAndButtons) {
  enum Shape { confirmation, notice, problem };
  struct Case {
    const char* screenshot;
    Shape shape;
    QString title;
    QString text;
  };
  const Case cases[] = {
      {"ready.png", notice, "Velmora Helper is ready",
       "Choose a skin on velmora.app and click Apply to Orvane."},
      {"confirm.png", confirmation, "Apply Aurora to Orvane?",
       "Velmora Helper will use the local open-source engine and may restart Orvane."},
      {"invalid-link.png", problem, "Invalid skin link",
       "Velmora Helper only downloads HTTPS images from velmora.app."},
      {"invalid-package.png", problem, "Invalid Orvane skin",
       "The skin package contains an unsafe path."},
      {"applied.png", notice, "Skin applied", "Orvane is reopening with Aurora."},
      {"failed.png", problem, "Could not apply skin",
       "Velmora engine is missing. Run the Velmora installer again."},
      {"busy.png", notice, "Velmora Helper is busy",
       "Another skin is being applied. Try again once Orvane has reopened."},
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
    if (c.shape == confirmation) {
      EXPECT_TRUE(frontEnd.askToApply(c.title, c.text, kLinkDetails));
    } else {
      frontEnd.showAlert(c.shape == problem ? AlertKind::problem : AlertKind::notice, c.title,
                         c.text);
    }

    EXPECT_EQ(seen.windowTitle, "Velmora Helper");
    EXPECT_EQ(seen.labels.mid(0, 2), QStringList({c.title, c.text}));
    EXPECT_TRUE(seen.boldHeading);
    EXPECT_GE(seen.width, 360);
    // A warning sign for a problem, the helper's own icon for everything else.
    EXPECT_EQ(seen.icon, c.shape == problem ? QMessageBox::Warning : QMessageBox::NoIcon);
    EXPECT_TRUE(seen.icon == QMessageBox::Warning || seen.hasPixmapIcon);
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    if (c.shape == confirmation) {
      EXPECT_EQ(seen.buttons, QStringList({"Apply skin", "Cancel"}));
      EXPECT_EQ(seen.roles, QList({QMessageBox::AcceptRole, QMessageBox::RejectRole}));
      EXPECT_EQ(seen.defaultButton, "Apply skin");
      EXPECT_EQ(seen.escapeButton, "Cancel");
    } else {
      EXPECT_EQ(seen.labels.size(), 2);
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
    EXPECT_EQ(frontEnd.askToApply("Apply Aurora to Orvane?", "detail", kLinkDetails), c.expected);
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
    DialogFrontEnd().showAlert(AlertKind::notice, "Skin applied",
                               "Orvane is reopening with Aurora.");
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
  DialogFrontEnd().showAlert(AlertKind::problem, title, text);
  whenBoxShown([&](QMessageBox& box) {
    confirmationLabels = plainLabelTexts(box);
    box.reject();
  });
  DialogFrontEnd().askToApply(title, text,
                              {"<b>x</b>.velmora", "#000000", "#ffffff", "#123456", {}});

  EXPECT_EQ(alertLabels, QStringList({title, text}));
  EXPECT_EQ(confirmationLabels.mid(0, 3), QStringList({title, text, "From: <b>x</b>.velmora"}));
}

TEST(DialogFrontEnd, LongTextsFromOutsideKeepEveryAlertOnTheScreen) {
  QStringList engineOutput;
  for (int i = 1; i <= 60; ++i)
    engineOutput.append(QStringLiteral("step %1: <b>failed</b>").arg(i));
  const QString unzip = QStringLiteral(
      "  End-of-central-directory signature not found.  Either this file is not\n"
      "  a zipfile, or it constitutes one disk of a multi-part archive.  In the\n"
      "  latter case the central directory and zipfile comment will be found on\n"
      "  the last disk(s) of this archive.\n"
      "unzip:  cannot find zipfile directory in one of /home/user/Notes.velmora or\n"
      "        /home/user/Notes.velmora.zip, and cannot find /home/user/Notes.velmora.ZIP, "
      "period.");
  const QString name = QStringLiteral("Aurora") + QStringLiteral("Borealis").repeated(10).left(74);
  struct Case {
    const char* what;
    bool confirmation;
    QString title;
    QString text;
    QString shown;  // the informative text the alert shows
  };
  const Case cases[] = {
      {"an engine's 60 lines", false, "Could not apply skin", engineOutput.join(u'\n'),
       engineOutput.mid(0, 5).join(u'\n') + u'…'},
      {"unzip's text", false, "Invalid Orvane skin", unzip, unzip.section(u'\n', 0, 4) + u'…'},
      {"an 80-character name", true, "Apply " + name + " to Orvane?", "detail", "detail"},
  };
  const QRect available = QApplication::primaryScreen()->availableGeometry();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QRect frame;
    int textWidth = 0;
    QStringList labels;
    QString details;
    whenBoxShown([&](QMessageBox& box) {
      frame = box.frameGeometry();
      for (QLabel* label : box.findChildren<QLabel*>()) {
        if (label->objectName().startsWith(QStringLiteral("qt_msgbox_"))) {
          textWidth = std::max(textWidth, label->width());
        }
      }
      labels = plainLabelTexts(box);
      if (auto* view = box.findChild<QTextEdit*>()) details = view->toPlainText();
      box.reject();
    });
    DialogFrontEnd frontEnd;
    if (c.confirmation) {
      frontEnd.askToApply(c.title, c.text,
                          {name + ".velmora", "#000000", "#ffffff", "#8a6cff", {}});
    } else {
      frontEnd.showAlert(AlertKind::problem, c.title, c.text);
    }

    EXPECT_TRUE(available.contains(frame)) << frame.width() << " x " << frame.height();
    EXPECT_LE(textWidth, 480);
    // The name and the texts are whole, only broken up for display.
    EXPECT_EQ(labels.value(0).remove(QChar(0x200B)), c.title);
    EXPECT_EQ(labels.value(1).remove(QChar(0x200B)), c.shown);
    // The whole text under "Show Details…", as plain text.
    EXPECT_EQ(details, c.confirmation ? QString() : c.text);
  }
}

/// A PNG of `size` whose IHDR announces `announced` instead (when given): a
/// picture that claims to be far larger than its data.
QByteArray pngBytes(QSize size, QSize announced = {}) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(QColor("#3aa7c5"));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  if (announced.isValid()) {
    // Width and height sit at bytes 16..23, the chunk's CRC over "IHDR" and
    // its 13 data bytes at 29..32.
    qToBigEndian<quint32>(announced.width(), bytes.data() + 16);
    qToBigEndian<quint32>(announced.height(), bytes.data() + 20);
    quint32 crc = 0xffffffff;
    for (int i = 12; i < 29; ++i) {
      crc ^= static_cast<quint8>(bytes[i]);
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    qToBigEndian<quint32>(~crc, bytes.data() + 29);
  }
  return bytes;
}

/// What the details below the confirmation's texts showed, once any
/// thumbnail had had its time to appear.
struct DetailsSeen {
  QStringList labels;
  QMap<QString, QColor> swatches;  // name: colour at the swatch's centre
  bool thumbnailShown = false;
  QSize thumbnailSize;
  QSize thumbnailPixels;
};

DetailsSeen askWith(const ConfirmationDetails& details) {
  DetailsSeen seen;
  whenBoxShown([&](QMessageBox& box) {
    QLabel* thumbnail = box.findChild<QLabel*>(QStringLiteral("thumbnail"));
    QElapsedTimer clock;
    clock.start();
    while (thumbnail != nullptr && !thumbnail->isHidden() && thumbnail->pixmap().isNull() &&
           clock.elapsed() < 1500) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    seen.labels = plainLabelTexts(box).mid(2);
    for (const char* name : {"accent", "secondary", "highlight"}) {
      auto* swatch = box.findChild<QLabel*>(QStringLiteral("swatch-") + name);
      if (swatch == nullptr) continue;
      const QImage image = swatch->pixmap().toImage();
      seen.swatches[name] = image.pixelColor(image.width() / 2, image.height() / 2);
    }
    if (thumbnail != nullptr && !thumbnail->isHidden()) {
      seen.thumbnailShown = !thumbnail->pixmap().isNull();
      seen.thumbnailSize = thumbnail->size();
      seen.thumbnailPixels = thumbnail->pixmap().size();
    }
    box.reject();
  });
  DialogFrontEnd().askToApply("Apply Aurora to Orvane?", "detail", details);
  return seen;
}

TEST(DialogFrontEnd, ConfirmationShowsSourceColoursAndAThumbnailOfThePackagesImage) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  qputenv("TMPDIR", QFile::encodeName(directory.path()));
  // A package holding `bytes` as its image, read by the confined reader.
  const auto packaged = [&](const QString& name, const QByteArray& bytes) {
    const QString path = directory.filePath(name + ".velmora");
    testing_support::writePackage(path, R"({"schemaVersion": 1, "image": "background.png"})",
                                  {{"background.png", bytes}});
    return readPackage(path, VELMORA_READER_PROGRAM);
  };
  struct Case {
    const char* what;
    OpenedPackage package;
    QSize thumbnail;  // empty: none shown
  };
  Case cases[] = {
      {"a link's image is not on disk", {}, {}},
      {"a wide picture", packaged("wide", pngBytes({1920, 1080})), {160, 90}},
      {"a tall one", packaged("tall", pngBytes({300, 600})), {80, 160}},
      {"a small one is not enlarged", packaged("small", pngBytes({40, 100})), {40, 100}},
      {"no image at all", packaged("text", "just text"), {}},
      {"a drawing named .png",
       packaged("drawing",
                "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
                "<rect width='64' height='64'/></svg>"),
       {}},
      {"a header announcing 30000 x 30000", packaged("bomb", pngBytes({8, 8}, {30000, 30000})), {}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DetailsSeen seen =
        askWith({"Aurora.velmora", "#c5533a", "#ffffff", "#8a6cff", c.package.thumbnail.get()});

    EXPECT_EQ(seen.labels, QStringList({"From: Aurora.velmora", "accent", "#c5533a", "secondary",
                                        "#ffffff", "highlight", "#8a6cff"}));
    EXPECT_EQ(seen.swatches.value("accent"), QColor("#c5533a"));
    EXPECT_EQ(seen.swatches.value("secondary"), QColor("#ffffff"));
    EXPECT_EQ(seen.swatches.value("highlight"), QColor("#8a6cff"));
    EXPECT_EQ(seen.thumbnailShown, !c.thumbnail.isEmpty());
    if (!c.thumbnail.isEmpty()) {
      EXPECT_EQ(seen.thumbnailSize, c.thumbnail);
      EXPECT_EQ(seen.thumbnailPixels, c.thumbnail);
    }
  }
  qunsetenv("TMPDIR");
}

TEST(SkinDetailsView, SwatchesStayBesideTheirNamesWithEdgesThatShowOnAnyTheme) {
  for (const bool dark : {false, true}) {
    SCOPED_TRACE(dark ? "dark" : "light");
    QPalette palette = QApplication::palette();
    if (dark) {
      palette.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
      palette.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    }
    const QColor window = palette.color(QPalette::Window);
    // Each colour as the window's own, where only the edge tells the swatch
    // apart; a long file name and the thumbnail's place beside them. The view
    // is laid out, not shown, so the thumbnail is never asked for.
    PackageThumbnail thumbnail(nullptr, FileDescriptor(-1), FileDescriptor(-1), {160, 90});
    SkinDetailsView view(
        {QString(80, u'x') + ".velmora", window.name(), window.name(), window.name(), &thumbnail});
    view.setPalette(palette);
    view.resize(view.sizeHint());
    view.layout()->activate();

    for (const QString name : {"accent", "secondary", "highlight"}) {
      SCOPED_TRACE(name.toStdString());
      auto* swatch = view.findChild<QLabel*>("swatch-" + name);
      QLabel* label = nullptr;
      for (QLabel* each : view.findChildren<QLabel*>()) {
        if (each->text() == name) label = each;
      }
      ASSERT_TRUE(swatch != nullptr && label != nullptr);
      // The square is drawn at its label's left.
      const int squareEnd = swatch->x() + int(swatch->pixmap().deviceIndependentSize().width());
      EXPECT_LE(label->x() - squareEnd, 10) << "the swatch drifted from its name";

      // The middle of the top edge, as it shows over the window.
      const QImage image = swatch->pixmap().toImage();
      const QColor edge = image.pixelColor(image.width() / 2, 0);
      const double shown =
          edge.alphaF() * edge.lightness() + (1 - edge.alphaF()) * window.lightness();
      EXPECT_GT(std::abs(shown - window.lightness()), 30) << "the edge is lost on the window";
    }
  }
}

/// The progress window on screen, if any.
ProgressWindow* shownProgress() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* window = qobject_cast<ProgressWindow*>(widget);
    if (window != nullptr && window->isVisible()) return window;
  }
  return nullptr;
}

/// Turns the event loop until `condition` holds; false if it never did
/// within five seconds.
bool waitFor(const std::function<bool()>& condition) {
  QElapsedTimer clock;
  clock.start();
  while (!condition() && clock.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  }
  return condition();
}

/// Turns the event loop until a timer of `delay`, started now, has fired.
void waitPast(std::chrono::milliseconds delay) {
  bool fired = false;
  QTimer::singleShot(delay, [&] { fired = true; });
  waitFor([&] { return fired; });
}

/// A progress delay short enough not to hold the tests up.
constexpr std::chrono::milliseconds kShortDelay{50};

QString headingOf(ProgressWindow* window) {
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->font().bold()) return label->text();
  }
  return {};
}

TEST(DialogFrontEnd, ProgressShowsOnlyWhenApplyingTakesAMoment) {
  DialogFrontEnd frontEnd(activateWithToken, kShortDelay);
  frontEnd.applyStarted(QStringLiteral("Quick"), {});
  QCoreApplication::processEvents();
  frontEnd.applyEnded();
  waitPast(2 * kShortDelay);
  EXPECT_EQ(shownProgress(), nullptr) << "a quick apply goes straight to its final alert";

  frontEnd.applyStarted(QStringLiteral("Aurora"), [] { return true; });
  QCoreApplication::processEvents();
  EXPECT_EQ(shownProgress(), nullptr);
  ASSERT_TRUE(waitFor([] { return shownProgress() != nullptr; }));
  ProgressWindow* window = shownProgress();
  EXPECT_EQ(headingOf(window), QStringLiteral("Downloading Aurora…"));
  std::thread([&] { frontEnd.downloadProgress(1024 * 1024, 4 * 1024 * 1024); }).join();
  EXPECT_TRUE(waitFor([&] { return window->findChild<QProgressBar*>()->value() == 1024; }));

  frontEnd.engineStarted();
  EXPECT_EQ(headingOf(window), QStringLiteral("Applying Aurora…"));
  frontEnd.applyEnded();
  EXPECT_EQ(shownProgress(), nullptr) << "the final alert takes its place";
}

TEST(DialogFrontEnd, CancelInTheProgressWindowStopsTheDownloadUnlessItHasEnded) {
  for (const bool stillDownloading : {true, false}) {
    SCOPED_TRACE(stillDownloading ? "downloading" : "the image has just arrived");
    DialogFrontEnd frontEnd(activateWithToken, kShortDelay);
    int cancels = 0;
    frontEnd.applyStarted(QStringLiteral("Aurora"), [&] {
      ++cancels;
      return stillDownloading;
    });
    ASSERT_TRUE(waitFor([] { return shownProgress() != nullptr; }));
    ProgressWindow* window = shownProgress();
    window->findChild<QDialogButtonBox*>()->buttons().value(0)->click();
    EXPECT_EQ(cancels, 1);
    if (stillDownloading) {
      EXPECT_EQ(shownProgress(), nullptr);
    } else {
      EXPECT_EQ(shownProgress(), window);
      EXPECT_EQ(headingOf(window), QStringLiteral("Applying Aurora…"));
    }
    frontEnd.applyEnded();
  }
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
  DialogFrontEnd().askToApply(title, text, kLinkDetails);
  EXPECT_EQ(labels.mid(0, 2),
            QStringList({"Apply Aurora\\u2028\\u2028Verified\\x0aby us to Orvane?",
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
      ui.showAlert(AlertKind::notice, QStringLiteral("Velmora Helper is busy"), QString());
    }
    EXPECT_EQ(handedOn, QStringList{QStringLiteral("lent-token to alert 0")});
    EXPECT_EQ(whileOpen, (QStringList{own, own}));
    EXPECT_EQ(qEnvironmentVariable("XDG_ACTIVATION_TOKEN", QStringLiteral("(unset)")), own);
  }
  qunsetenv("XDG_ACTIVATION_TOKEN");
}

}  // namespace
