#include "base/ImageSignature.h"

#include <array>

namespace {

/// Bytes that must stand at `offset`.
struct Mark {
  qsizetype offset;
  QByteArrayView bytes;
};

/// A format's signature: one or two marks, all of which must match.
struct Signature {
  const char* format;
  std::array<Mark, 2> marks;
};

// A literal's view ends at its first NUL: the TIFF marks give their size.
constexpr std::array kSignatures{
    Signature{"png", {Mark{0, "\x89PNG\r\n\x1A\n"}, Mark{}}},
    Signature{"jpeg", {Mark{0, "\xFF\xD8\xFF"}, Mark{}}},
    Signature{"webp", {Mark{0, "RIFF"}, Mark{8, "WEBP"}}},
    Signature{"heif", {Mark{4, "ftypheic"}, Mark{}}},
    Signature{"heif", {Mark{4, "ftypheix"}, Mark{}}},
    Signature{"heif", {Mark{4, "ftyphevc"}, Mark{}}},
    Signature{"heif", {Mark{4, "ftypmif1"}, Mark{}}},
    Signature{"heif", {Mark{4, "ftypmsf1"}, Mark{}}},
    Signature{"tiff", {Mark{0, QByteArrayView("II*\0", 4)}, Mark{}}},
    Signature{"tiff", {Mark{0, QByteArrayView("MM\0*", 4)}, Mark{}}},
};

constexpr bool fitsTheLookedAtBytes() {
  for (const Signature& signature : kSignatures) {
    for (const Mark& mark : signature.marks) {
      if (mark.offset + mark.bytes.size() > kImageSignatureBytes) return false;
    }
  }
  return true;
}
static_assert(fitsTheLookedAtBytes(), "kImageSignatureBytes must cover every signature");

bool matches(QByteArrayView head, const Mark& mark) {
  if (mark.bytes.isEmpty()) return true;
  return head.size() >= mark.offset + mark.bytes.size() &&
         head.sliced(mark.offset, mark.bytes.size()) == mark.bytes;
}

}  // namespace

QString imageSignatureFormat(QByteArrayView head) {
  for (const Signature& signature : kSignatures) {
    if (matches(head, signature.marks[0]) && matches(head, signature.marks[1])) {
      return QString::fromLatin1(signature.format);
    }
  }
  return {};
}
