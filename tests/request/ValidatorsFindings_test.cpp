// Names found by fuzzing validatedName (tests/fuzz), kept as regression cases.
#include <gtest/gtest.h>

#include <QString>

#include "request/Validators.h"

namespace {

QString repeated(const QString& piece, int times) {
  QString text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

bool hasLoneSurrogate(const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      ++i;
    } else if (c.isSurrogate()) {
      return true;
    }
  }
  return false;
}

TEST(NameFindings, AnEmojiAfterAComplexScriptIsOneCharacterAndNeverCutInHalf) {
  // Qt reports a grapheme boundary inside each surrogate pair once the text
  // holds Devanagari, Thai or Tibetan. The cut used to count every emoji as
  // two characters and could end the name in half of one, which the engine
  // would have received as a replacement character.
  const QString grin = QStringLiteral("\U0001F600");
  const QString flagHalves = QStringLiteral("\U0001F1EB\U0001F1F7");
  struct Case {
    QString given;
    QString expected;
  } cases[] = {
      {u'\u0915' + repeated(grin, 100), u'\u0915' + repeated(grin, 79)},
      {u'\u0E01' + repeated(grin, 100), u'\u0E01' + repeated(grin, 79)},
      {QStringLiteral("\u0F40 ") + repeated(grin, 100),
       QStringLiteral("\u0F40 ") + repeated(grin, 78)},
  };
  for (const Case& c : cases) {
    const QString name = validatedName(c.given);
    EXPECT_FALSE(hasLoneSurrogate(name)) << name.toStdString();
    EXPECT_EQ(name, c.expected) << name.toStdString();
  }
  // The fuzzer's own find: regional indicators after a Tibetan sign are
  // still pairs, one flag each.
  const QString flags = QStringLiteral("\u0FAB") + repeated(flagHalves, 60);
  EXPECT_EQ(validatedName(flags), flags);
}

TEST(NameFindings, WhereANameIsCutNeverDependsOnTheTextAfterTheCut) {
  // Found by fuzzing: with a Khmer sign far behind the cut, Qt counted every
  // regional indicator as a character of its own, so 90 flags were cut after
  // 40 of them, and the cut name, counted on its own, had 40 characters.
  const QString flag = QStringLiteral("\U0001F1EB\U0001F1F7");
  for (const QString& tail :
       {QString(), QStringLiteral("\u17C7"), QStringLiteral("\u0915"), QStringLiteral(" \u0E01")}) {
    EXPECT_EQ(validatedName(repeated(flag, 90) + tail), repeated(flag, 80));
  }
}

}  // namespace
