#pragma once

#include <curl/curl.h>

#include <string>

namespace tamberly {

/// The libcurl functions the proxy check and the program's own requests call. libcurl is loaded when the first
/// check or request runs, not when the program starts: with the TLS, Kerberos, LDAP and SSH libraries it brings,
/// linking it would add about a third to the window's start-up, and most starts never send anything.
struct CurlLibrary {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_reset) easy_reset;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_multi_init) multi_init;
    decltype(&curl_multi_cleanup) multi_cleanup;
    decltype(&curl_multi_add_handle) multi_add_handle;
    decltype(&curl_multi_remove_handle) multi_remove_handle;
    decltype(&curl_multi_perform) multi_perform;
    decltype(&curl_multi_poll) multi_poll;
    decltype(&curl_multi_wakeup) multi_wakeup;
    decltype(&curl_multi_info_read) multi_info_read;
    decltype(&curl_url) url;
    decltype(&curl_url_cleanup) url_cleanup;
    decltype(&curl_url_set) url_set;
    decltype(&curl_url_get) url_get;
    decltype(&curl_free) free;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};

/// libcurl, loaded and initialised on the first call; nullptr when it cannot be, with why saying what failed.
const CurlLibrary* loadCurl(std::string& why);

} // namespace tamberly
