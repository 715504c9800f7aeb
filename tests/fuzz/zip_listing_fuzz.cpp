// The zip tool's totals line and listing, and the path-safety rules of both
// the inspection and the extractor. The first byte chooses the part; each is
// held to a plain restatement of its rule, written without the pattern
// matching that the code under test uses.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "FuzzProperties.h"
#include "package/PackageVetting.h"
#include "package/ZipExtractor.h"

namespace {

const QString kTotalsMessage = QStringLiteral("The skin package expands beyond the safety limit.");
const QString kCountMessage =
    QStringLiteral("The skin package contains an unexpected number of files.");
const QString kUnsafeMessage = QStringLiteral("The skin package contains an unsafe path.");

bool isDigit(QChar c) {
  return c >= u'0' && c <= u'9';
}

// Reads a run of digits at `at` as a signed 64-bit value; nullopt past the range.
std::optional<qint64> digitsValue(const QString& text, qsizetype from, qsizetype to) {
  unsigned __int128 value = 0;
  for (qsizetype i = from; i < to; ++i) {
    value = value * 10 + (text.at(i).unicode() - u'0');
    if (value > static_cast<unsigned __int128>(std::numeric_limits<qint64>::max())) {
      return std::nullopt;
    }
  }
  return static_cast<qint64>(value);
}

// The first "N file(s), M bytes uncompressed", scanning left to right. A run
// of digits is always taken whole: what follows it must be a blank.
struct Found {
  bool matched = false;
  std::optional<ArchiveTotals> totals;
};

Found firstTotals(const QString& text) {
  for (qsizetype start = 0; start < text.size(); ++start) {
    qsizetype i = start;
    while (i < text.size() && isDigit(text.at(i))) ++i;
    if (i == start) continue;
    const qsizetype entriesEnd = i;
    if (text.mid(i, 5) != u" file") continue;
    i += 5;
    if (text.mid(i, 3) == u"s, ") {
      i += 3;
    } else if (text.mid(i, 2) == u", ") {
      i += 2;
    } else {
      continue;
    }
    const qsizetype bytesStart = i;
    while (i < text.size() && isDigit(text.at(i))) ++i;
    if (i == bytesStart || text.mid(i, 19) != u" bytes uncompressed") continue;
    Found found;
    found.matched = true;
    const std::optional<qint64> entries = digitsValue(text, start, entriesEnd);
    const std::optional<qint64> bytes = digitsValue(text, bytesStart, i);
    if (entries && bytes) found.totals = ArchiveTotals{*entries, *bytes};
    return found;
  }
  return {};
}

void checkTotalsText(const QString& text) {
  const std::optional<ArchiveTotals> parsed = parseTotalsLine(text);
  const Found expected = firstTotals(text);
  require(parsed.has_value() == expected.totals.has_value(), "the totals line is found as written",
          text);
  if (parsed) {
    require(parsed->entries == expected.totals->entries &&
                parsed->uncompressedBytes == expected.totals->uncompressedBytes,
            "the totals line's numbers are read as written", text);
  }
  const bool acceptable = parsed && parsed->entries >= 1 && parsed->entries <= kMaxPackageEntries &&
                          parsed->uncompressedBytes <= kMaxExpandedBytes;
  try {
    checkTotals(text);
    require(acceptable, "only 1 to 12 entries of at most 60 MiB pass", text);
  } catch (const Failure& failure) {
    requireRefusal(failure, {kTotalsMessage});
    require(!acceptable, "1 to 12 entries of at most 60 MiB pass", text);
  }
}

// Unsafe: a leading "/", a backslash, or a component that is exactly "..".
bool isUnsafeName(const QString& name) {
  return name.startsWith(u'/') || name.contains(u'\\') ||
         (u'/' + name + u'/').contains(QStringLiteral("/../"));
}

void checkListingText(const QString& text) {
  const QStringList names = parseListing(text);
  for (const QString& name : names) {
    require(!name.isEmpty() && !name.contains(u'\n'), "a listed name is one non-empty line", name);
  }
  // Nothing but the line feeds between names is lost.
  QString lines = text;
  while (lines.contains(QStringLiteral("\n\n")))
    lines.replace(QStringLiteral("\n\n"), QStringLiteral("\n"));
  if (lines.startsWith(u'\n')) lines.remove(0, 1);
  if (lines.endsWith(u'\n')) lines.chop(1);
  require(names.join(u'\n') == lines, "the listing's names are its lines, exactly", text);

  bool anyUnsafe = false;
  for (const QString& name : names) {
    require(isSafeListedName(name) != isUnsafeName(name),
            "a name is unsafe exactly when the rule says", name);
    anyUnsafe = anyUnsafe || isUnsafeName(name);
  }
  const bool countOk = names.size() >= 1 && names.size() <= kMaxPackageEntries;
  try {
    checkListing(text);
    require(countOk && !anyUnsafe, "only 1 to 12 safe names pass", text);
  } catch (const Failure& failure) {
    requireRefusal(failure, {kCountMessage, kUnsafeMessage});
    if (!countOk) {
      require(failure.localizedDescription() == kCountMessage, "the count is judged first", text);
    } else {
      require(anyUnsafe && failure.localizedDescription() == kUnsafeMessage,
              "only an unsafe name is refused as such", text);
    }
  }
}

// What the extractor creates for an entry name: plain components, inside
// its directory, and never for a name the inspection would call unsafe.
void checkEntryName(const QByteArray& name) {
  const std::optional<QList<QByteArray>> components = entryPathComponents(name);
  const QString shown = QString::fromUtf8(name);
  if (!components) return;
  require(!isUnsafeName(QString::fromUtf8(name)),
          "the extractor takes no name the inspection refuses", shown);
  QList<QByteArray> expected;
  for (const QByteArray& piece : name.split('/')) {
    if (!piece.isEmpty() && piece != ".") expected.append(piece);
  }
  require(*components == expected, "an entry's components are its non-empty, non-dot pieces",
          shown);
  for (const QByteArray& component : *components) {
    require(component != "..", "no component climbs out", shown);
    for (const char byte : component) {
      const auto b = static_cast<unsigned char>(byte);
      require(b >= 0x20 && b != 0x7F && b != '/' && b != '\\',
              "a component holds no control byte, slash or backslash", shown);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  switch (data[0] % 3) {
    case 0:
      checkTotalsText(QString::fromUtf8(bytes));
      break;
    case 1:
      checkListingText(QString::fromUtf8(bytes));
      break;
    default:
      checkEntryName(bytes);
      break;
  }
  return 0;
}
