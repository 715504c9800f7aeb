#include "link/ContentLength.h"

#include <limits>

std::optional<qint64> readContentLength(QByteArrayView value) {
  qsizetype i = 0;
  bool negative = false;
  if (!value.isEmpty() && (value[0] == '+' || value[0] == '-')) {
    negative = value[0] == '-';
    i = 1;
  }
  if (i == value.size()) return std::nullopt;

  // Accumulate the magnitude unsigned, so the most negative value still fits.
  constexpr auto kMax = static_cast<quint64>(std::numeric_limits<qint64>::max());
  const quint64 limit = negative ? kMax + 1 : kMax;
  quint64 magnitude = 0;
  for (; i < value.size(); ++i) {
    const char c = value[i];
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<quint64>(c - '0');
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<qint64>(magnitude);
  if (magnitude == kMax + 1) return std::numeric_limits<qint64>::min();
  return -static_cast<qint64>(magnitude);
}
