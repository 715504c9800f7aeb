// validatedName and validatedColor on any text. The first byte chooses the
// check and how the rest becomes text (UTF-8, or raw UTF-16 units so that
// lone surrogates get through); the properties are those a request's fields
// must have.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "FuzzProperties.h"

namespace {

const QString kColorMessage = QStringLiteral("The skin contains an invalid color value.");

void checkName(const std::optional<QString>& given) {
  const QString name = validatedName(given);
  requireNameFrom(name, given);
  // Cleaning a clean name changes nothing, except that white space left at
  // the end by the cut is trimmed now.
  const QString again = validatedName(name);
  QString trimmedEnd = name;
  while (!trimmedEnd.isEmpty() && isNameWhitespace(trimmedEnd.back().unicode())) trimmedEnd.chop(1);
  require(again == trimmedEnd, "cleaning a clean name only trims what the cut left", name);
}

void checkColor(const std::optional<QString>& given) {
  const QString fallback = QStringLiteral("#8A6CFF");
  try {
    const QString color = validatedColor(given, fallback);
    requireCleanColor(color);
    const QString used = given.value_or(fallback);
    require(isColorText(used), "only # and six hex digits are accepted", used);
    require(color == used.toLower(), "an accepted colour is the given one lower-cased", used);
  } catch (const Failure& failure) {
    requireRefusal(failure, {kColorMessage});
    require(given.has_value() && !isColorText(*given), "only a malformed colour is refused",
            given.value_or(QString()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::optional<QString> given;
  if ((mode & 4) == 0) {
    given = (mode & 2) != 0 ? utf16Text(data + 1, size - 1)
                            : QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                                static_cast<qsizetype>(size - 1));
  }
  if ((mode & 1) != 0) {
    checkColor(given);
  } else {
    checkName(given);
  }
  return 0;
}
