#pragma once
#include <QChar>

/// The value of an ASCII hexadecimal digit in either case, or -1 for any
/// other character (full-width and other non-ASCII digits included).
constexpr int hexDigitValue(char32_t c) {
  if (c >= u'0' && c <= u'9') return static_cast<int>(c - u'0');
  if (c >= u'a' && c <= u'f') return static_cast<int>(c - u'a') + 10;
  if (c >= u'A' && c <= u'F') return static_cast<int>(c - u'A') + 10;
  return -1;
}

/// Whether `c` is an ASCII hexadecimal digit in either case.
constexpr bool isHexDigit(QChar c) {
  return hexDigitValue(c.unicode()) >= 0;
}
