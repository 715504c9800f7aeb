#pragma once
#include <QString>

/// The name of a UTF-8 locale that this system always has, for a child
/// process's LC_ALL.
QString utf8LocaleName();

/// Reads and writes text as UTF-8 on this thread while it lives, whatever the
/// process's locale: libarchive converts entry names from the archive's
/// encoding to the current locale's, and under "C" (as under cron, or with no
/// locale variables at all) a UTF-8 name cannot be converted and is lost.
/// Other threads keep their locale.
class Utf8Names {
 public:
  Utf8Names();
  ~Utf8Names();
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  // The C library's locale_t values, which each system declares in a header
  // of its own.
  void* utf8_ = nullptr;
  void* previous_ = nullptr;
};
