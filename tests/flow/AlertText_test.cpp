#include "flow/AlertText.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplaySafe, EscapesWhatWouldBreakALineSteerATerminalOrHideText) {
  struct Case {
    QString text;
    QString shown;
  } cases[] = {
      {QStringLiteral("a\rb\vc\fd\u0085e"), QStringLiteral("a\\x0db\\x0bc\\x0cd\\u0085e")},
      {QStringLiteral("Aurora\u2028Verified\u2029"),
       QStringLiteral("Aurora\\u2028Verified\\u2029")},
      {QStringLiteral("\x1b]0;TITLE\a\t"), QStringLiteral("\\x1b]0;TITLE\\x07\\x09")},
      {QStringLiteral("\u202Eevil\u2066x\u2069\u200E\u061C"),
       QStringLiteral("\\u202eevil\\u2066x\\u2069\\u200e\\u061c")},
      {QStringLiteral("frame\uFDD0end\uFDD1"), QStringLiteral("frame\\ufdd0end\\ufdd1")},
      {QStringLiteral("tag\U000E0001") + QChar(0xD800), QStringLiteral("tag\\U000e0001\\ud800")},
      {QStringLiteral("Caf\u00E9 \u00A0\U0001F600 e\u0301 <b>"),
       QStringLiteral("Caf\u00E9 \u00A0\U0001F600 e\u0301 <b>")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(displaySafe(c.text, true), c.shown) << c.text.toStdString();
  }
}

TEST(DisplaySafe, KeepsLineFeedsOnlyWhenAsked) {
  EXPECT_EQ(displaySafe(QStringLiteral("one\ntwo"), true), QStringLiteral("one\ntwo"));
  EXPECT_EQ(displaySafe(QStringLiteral("one\ntwo"), false), QStringLiteral("one\\x0atwo"));
}

}  // namespace
