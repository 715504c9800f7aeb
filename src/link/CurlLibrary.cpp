#include "link/CurlLibrary.h"

#include <dlfcn.h>

#include <QString>

#include "base/HelperError.h"
#include "link/TransferError.h"

namespace {

struct Loaded {
  CurlLibrary functions{};
  QString failure;  ///< why it could not be loaded; empty when it was
};

template <typename Function>
bool find(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

Loaded load() {
  Loaded loaded;
  // Never unloaded: the process ends with it.
  void* library = ::dlopen(VELMORA_CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    // Short of memory or files, the loader cannot map libcurl's libraries.
    loaded.failure = resourcesShort() ? resourcesShortText()
                                      : QStringLiteral("The skin image could not be downloaded: ") +
                                            QString::fromLocal8Bit(::dlerror());
    return loaded;
  }
  CurlLibrary& f = loaded.functions;
  const bool all = find(library, "curl_global_init", f.global_init) &&
                   find(library, "curl_easy_init", f.easy_init) &&
                   find(library, "curl_easy_cleanup", f.easy_cleanup) &&
                   find(library, "curl_easy_setopt", f.easy_setopt) &&
                   find(library, "curl_easy_getinfo", f.easy_getinfo) &&
                   find(library, "curl_multi_init", f.multi_init) &&
                   find(library, "curl_multi_cleanup", f.multi_cleanup) &&
                   find(library, "curl_multi_add_handle", f.multi_add_handle) &&
                   find(library, "curl_multi_remove_handle", f.multi_remove_handle) &&
                   find(library, "curl_multi_perform", f.multi_perform) &&
                   find(library, "curl_multi_info_read", f.multi_info_read) &&
                   find(library, "curl_multi_poll", f.multi_poll) &&
                   find(library, "curl_multi_wakeup", f.multi_wakeup);
  if (!all) {
    loaded.failure = QStringLiteral("The skin image could not be downloaded: ") +
                     QString::fromLocal8Bit(::dlerror());
  } else if (f.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    loaded.failure = downloadNotStarted().localizedDescription();
  }
  return loaded;
}

}  // namespace

const CurlLibrary& curlLibrary() {
  // Loaded once, by whichever thread asks first.
  static const Loaded loaded = load();
  if (!loaded.failure.isEmpty()) {
    throw PlatformError(loaded.failure);
  }
  return loaded.functions;
}
