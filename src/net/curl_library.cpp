#include "net/curl_library.h"

#include <dlfcn.h>

namespace tamberly {
namespace {

// The soname of libcurl 7 and 8 alike.
constexpr const char* kLibraryName = "libcurl.so.4";

struct Loaded {
    CurlLibrary library{};
    std::string failure;
};

template <typename Function> bool resolve(void* handle, const char* name, Function& function, std::string& failure) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!function && failure.empty())
        failure = std::string(kLibraryName) + " lacks " + name;
    return function != nullptr;
}

Loaded load() {
    Loaded loaded;
    // Never closed: the library stays for the program's life, as a linked one would.
    void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        loaded.failure = "cannot load " + std::string(kLibraryName) + (error ? ": " + std::string(error) : "");
        return loaded;
    }
    CurlLibrary& c = loaded.library;
    std::string& f = loaded.failure;
    resolve(handle, "curl_global_init", c.global_init, f);
    resolve(handle, "curl_easy_init", c.easy_init, f);
    resolve(handle, "curl_easy_reset", c.easy_reset, f);
    resolve(handle, "curl_easy_cleanup", c.easy_cleanup, f);
    resolve(handle, "curl_easy_setopt", c.easy_setopt, f);
    resolve(handle, "curl_easy_getinfo", c.easy_getinfo, f);
    resolve(handle, "curl_easy_strerror", c.easy_strerror, f);
    resolve(handle, "curl_multi_init", c.multi_init, f);
    resolve(handle, "curl_multi_cleanup", c.multi_cleanup, f);
    resolve(handle, "curl_multi_add_handle", c.multi_add_handle, f);
    resolve(handle, "curl_multi_remove_handle", c.multi_remove_handle, f);
    resolve(handle, "curl_multi_perform", c.multi_perform, f);
    resolve(handle, "curl_multi_poll", c.multi_poll, f);
    resolve(handle, "curl_multi_wakeup", c.multi_wakeup, f);
    resolve(handle, "curl_multi_info_read", c.multi_info_read, f);
    resolve(handle, "curl_url", c.url, f);
    resolve(handle, "curl_url_cleanup", c.url_cleanup, f);
    resolve(handle, "curl_url_set", c.url_set, f);
    resolve(handle, "curl_url_get", c.url_get, f);
    resolve(handle, "curl_free", c.free, f);
    resolve(handle, "curl_slist_append", c.slist_append, f);
    resolve(handle, "curl_slist_free_all", c.slist_free_all, f);
    if (f.empty() && c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        f = "libcurl could not start";
    return loaded;
}

} // namespace

const CurlLibrary* loadCurl(std::string& why) {
    static const Loaded loaded = load();
    why = loaded.failure;
    return loaded.failure.empty() ? &loaded.library : nullptr;
}

} // namespace tamberly
