#include <gtest/gtest.h>

#include "base/HelperError.h"
#include "request/Validators.h"

namespace {

struct NameCase {
  const char* what;
  std::optional<QString> input;
  QString expected;
};

QString repeated(const QString& unit, int count) {
  QString text;
  for (int i = 0; i < count; ++i) text += unit;
  return text;
}

class ValidatedName : public testing::TestWithParam<NameCase> {};

TEST_P(ValidatedName, CleansAndBounds) {
  EXPECT_EQ(validatedName(GetParam().input), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidatedName,
    testing::Values(
        NameCase{"absent", std::nullopt, QStringLiteral("My Orvane Skin")},
        NameCase{"empty", QString(), QStringLiteral("My Orvane Skin")},
        NameCase{"only spaces", QStringLiteral("   "), QStringLiteral("My Orvane Skin")},
        NameCase{"only controls and zero-width", QStringLiteral("\t\n\u200B\u200D"),
                 QStringLiteral("My Orvane Skin")},
        NameCase{"tab, words, line feed", QStringLiteral("\tCool Skin\n"),
                 QStringLiteral("Cool Skin")},
        NameCase{"zero-width space inside", QStringLiteral("Cool\u200BSkin"),
                 QStringLiteral("CoolSkin")},
        NameCase{"inner runs of spaces kept", QStringLiteral(" a  b "), QStringLiteral("a  b")},
        NameCase{"no-break and ideographic spaces trimmed", QStringLiteral("\u00A0Aurora\u3000"),
                 QStringLiteral("Aurora")},
        NameCase{"line and paragraph separators trimmed", QStringLiteral("\u2028Aurora\u2029"),
                 QStringLiteral("Aurora")},
        NameCase{"bidi override removed", QStringLiteral("abc\u202Edef"), QStringLiteral("abcdef")},
        NameCase{"private use removed", QStringLiteral("a\uE000b"), QStringLiteral("ab")},
        NameCase{"lone surrogate removed",
                 QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b"), QStringLiteral("ab")},
        NameCase{"astral letters kept", QStringLiteral("\U0001D400x"),
                 QStringLiteral("\U0001D400x")},
        NameCase{"markup kept as text", QStringLiteral("<b>Bold</b>"),
                 QStringLiteral("<b>Bold</b>")},
        NameCase{"ZWJ emoji fall apart", QStringLiteral("\U0001F468\u200D\U0001F469"),
                 QStringLiteral("\U0001F468\U0001F469")},
        NameCase{"100 letters cut to 80", repeated(QStringLiteral("a"), 100),
                 repeated(QStringLiteral("a"), 80)},
        NameCase{"80th character a space is kept",
                 repeated(QStringLiteral("a"), 79) + QStringLiteral(" bcd"),
                 repeated(QStringLiteral("a"), 79) + QStringLiteral(" ")},
        NameCase{"80 letters with combining accents stay whole",
                 repeated(QStringLiteral("e\u0301"), 80), repeated(QStringLiteral("e\u0301"), 80)},
        NameCase{"81 accented letters: cluster never split",
                 repeated(QStringLiteral("e\u0301"), 81), repeated(QStringLiteral("e\u0301"), 80)},
        NameCase{"81 flags cut to 80 whole flags",
                 repeated(QStringLiteral("\U0001F1EB\U0001F1F7"), 81),
                 repeated(QStringLiteral("\U0001F1EB\U0001F1F7"), 80)},
        NameCase{"a cluster keeps its base and 30 marks",
                 u'a' + repeated(QStringLiteral("\u0301"), 100000) + u'b',
                 u'a' + repeated(QStringLiteral("\u0301"), 30) + u'b'},
        NameCase{"a run of Hangul leading jamo is one cluster, bounded too",
                 repeated(QStringLiteral("\u1100"), 40) + u'b',
                 repeated(QStringLiteral("\u1100"), 31) + u'b'},
        NameCase{"the name ends where the rest would join a shortened cluster",
                 repeated(QStringLiteral("\u1100"), 40) + QStringLiteral("\u1161\u1100b"),
                 repeated(QStringLiteral("\u1100"), 31)},
        NameCase{"white space a shortened cluster ends in is trimmed",
                 repeated(QStringLiteral("\u0D4E"), 30) + QStringLiteral(" \u0301"),
                 repeated(QStringLiteral("\u0D4E"), 30)}));

TEST(ValidatedName, JoinedEmojiCountOneEachOnceTheirJoinersAreGone) {
  // Three people joined by ZWJ are one cluster; without the joiners they are three.
  const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
  const QString name = validatedName(repeated(family, 30));
  EXPECT_EQ(name, repeated(QStringLiteral("\U0001F468\U0001F469\U0001F467"), 30).left(160));
}

struct ColorCase {
  std::optional<QString> input;
  QString expected;  // empty: refused
};

class ValidatedColor : public testing::TestWithParam<ColorCase> {};

TEST_P(ValidatedColor, AcceptsOnlyHashAndSixHexDigits) {
  const ColorCase& c = GetParam();
  if (c.expected.isEmpty()) {
    try {
      validatedColor(c.input, QStringLiteral("#c5533a"));
      FAIL() << "accepted " << c.input->toStdString();
    } catch (const HelperError& error) {
      EXPECT_EQ(error.errorCase(), HelperError::Case::invalidRequest);
      EXPECT_EQ(error.localizedDescription(),
                QStringLiteral("The skin contains an invalid color value."));
    }
  } else {
    EXPECT_EQ(validatedColor(c.input, QStringLiteral("#c5533a")), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidatedColor,
    testing::Values(
        ColorCase{std::nullopt, QStringLiteral("#c5533a")},
        ColorCase{QStringLiteral("#AABBCC"), QStringLiteral("#aabbcc")},
        ColorCase{QStringLiteral("#0a1b2c"), QStringLiteral("#0a1b2c")}, ColorCase{QString(), {}},
        ColorCase{QStringLiteral("#abc"), {}}, ColorCase{QStringLiteral("aabbcc"), {}},
        ColorCase{QStringLiteral("#aabbccd"), {}}, ColorCase{QStringLiteral("#aabbcg"), {}},
        ColorCase{QStringLiteral(" #aabbcc"), {}}, ColorCase{QStringLiteral("#aabbcc "), {}},
        ColorCase{QStringLiteral("#aabbcc\n"), {}}, ColorCase{QStringLiteral("#aabbcc\r\n"), {}},
        ColorCase{QStringLiteral("#aabbcc\u2028"), {}},
        ColorCase{QStringLiteral("#\uFF21ABBCC"), {}},    // full-width A
        ColorCase{QStringLiteral("#aab\u00B2cc"), {}}));  // superscript two

TEST(ValidatedColor, DefaultsPassUnchanged) {
  for (const QString& fallback : {kDefaultAccent, kDefaultSecondary, kDefaultHighlight}) {
    EXPECT_EQ(validatedColor(std::nullopt, fallback), fallback);
  }
}

// Names found by fuzzing validatedName (tests/fuzz), kept as regression cases.

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
