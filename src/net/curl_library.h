#pragma once

#include <curl/curl.h>

#include <string>

namespace tamberly {

/// The libcurl functions the proxy check calls. libcurl is loaded when the first check runs, not when the program
/// starts: with the TLS, Kerberos, LDAP and SSH libraries it brings, linking it would add about a third to the
/// window's start-up, for a command many users never run.
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
};

/// libcurl, loaded and initialised on the first call; nullptr when it cannot be, with why saying what failed.
const CurlLibrary* loadCurl(std::string& why);

} // namespace tamberly
