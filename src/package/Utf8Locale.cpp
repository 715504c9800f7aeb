#include "package/Utf8Locale.h"

// This system's declarations of the C library's per-thread locales and the
// name of its UTF-8 locale (package/linux or package/macos, chosen by CMake).
#include "SystemLocale.h"

namespace {

const char* const kNames[] = {"C.UTF-8", "C.utf8", "UTF-8", "en_US.UTF-8"};

}  // namespace

QString utf8LocaleName() {
  return QString::fromLatin1(kUtf8LocaleName);
}

Utf8Names::Utf8Names() {
  for (const char* name : kNames) {
    const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
    if (utf8 == static_cast<locale_t>(nullptr)) continue;
    utf8_ = utf8;
    previous_ = ::uselocale(utf8);
    return;
  }
}

Utf8Names::~Utf8Names() {
  if (utf8_ == nullptr) return;
  ::uselocale(static_cast<locale_t>(previous_));
  ::freelocale(static_cast<locale_t>(utf8_));
}
