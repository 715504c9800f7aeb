#pragma once
#include <curl/curl.h>

/// libcurl's functions that the download calls. libcurl is loaded the first
/// time a download needs it, not when the helper starts: it brings a dozen
/// libraries of its own (TLS, Kerberos, LDAP...) whose loading would slow
/// every start, and most runs (every package) never download.
struct CurlLibrary {
  decltype(&::curl_global_init) global_init;
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_cleanup) easy_cleanup;
  decltype(&::curl_easy_setopt) easy_setopt;
  decltype(&::curl_easy_getinfo) easy_getinfo;
  decltype(&::curl_multi_init) multi_init;
  decltype(&::curl_multi_cleanup) multi_cleanup;
  decltype(&::curl_multi_add_handle) multi_add_handle;
  decltype(&::curl_multi_remove_handle) multi_remove_handle;
  decltype(&::curl_multi_perform) multi_perform;
  decltype(&::curl_multi_info_read) multi_info_read;
  decltype(&::curl_multi_poll) multi_poll;
  decltype(&::curl_multi_wakeup) multi_wakeup;
};

/// libcurl, loaded once (and initialised) on first use, from any thread;
/// throws PlatformError when it cannot be loaded.
const CurlLibrary& curlLibrary();
