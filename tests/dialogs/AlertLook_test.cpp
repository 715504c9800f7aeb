#include "dialogs/AlertLook.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>

#include <ostream>
#include <utility>

/// Lets failure messages show texts instead of bytes.
static void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

QString lines(int count, const QString& line) {
  QStringList all;
  for (int i = 1; i <= count; ++i) all.append(line.arg(i));
  return all.join(u'\n');
}

TEST(AlertLook, ALongTextShowsItsFirstLinesOnly) {
  const QString word = QStringLiteral("resource ");
  struct Case {
    const char* what;
    QString text;
    QString shown;
  };
  const Case cases[] = {
      {"five lines stay whole", lines(5, "step %1 failed"), lines(5, "step %1 failed")},
      {"six lines show five", lines(6, "step %1 failed"), lines(5, "step %1 failed") + u'…'},
      {"lines that come to more than 400 characters end at the last whole one",
       lines(5, "step %1 " + QString(90, u'x')), lines(4, "step %1 " + QString(90, u'x')) + u'…'},
      {"one long line ends between words", word.repeated(60), word.repeated(44).trimmed() + u'…'},
      {"one long run ends between characters", QString(500, u'x'), QString(400, u'x') + u'…'},
      {"a character is never split",
       QString(399, u'x') + QStringLiteral("\U0001F600") + QString(100, u'y'),
       QString(399, u'x') + u'…'},
      {"an accent stays with its letter",
       QString(399, u'x') + QStringLiteral("e\u0301") + QString(100, u'y'),
       QString(399, u'x') + u'…'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(firstLinesOf(c.text), c.shown);
  }
}

TEST(AlertLook, OnlyRunsTooWideForALineBreakAnywhere) {
  const QFontMetrics metrics(QApplication::font());
  const QString name = QStringLiteral("Aurora") + QStringLiteral("Borealis").repeated(10);
  const QString sentence =
      QStringLiteral("Orvane is reopening with Aurora, a skin of many colours.");
  EXPECT_EQ(breakableForDisplay(sentence, metrics), sentence);

  const QString accented = QStringLiteral("e\u0301").repeated(60);
  for (const auto& [run, characters] :
       {std::pair{name, name.size()}, std::pair{accented, qsizetype{60}}}) {
    const QString shown = breakableForDisplay(QStringLiteral("Apply ") + run + u'?', metrics);
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Apply A") + QChar(0x200B)) ||
                shown.startsWith(QStringLiteral("Apply e")))
        << shown.toStdString();
    EXPECT_EQ(QString(shown).remove(QChar(0x200B)), QStringLiteral("Apply ") + run + u'?');
    // A break opportunity between every two characters, never inside one.
    const QStringList pieces = shown.mid(6).split(QChar(0x200B));
    EXPECT_EQ(pieces.size(), characters + 1);
    for (const QString& piece : pieces) EXPECT_FALSE(piece.startsWith(QChar(0x0301)));
  }
}

}  // namespace
