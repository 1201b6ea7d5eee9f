#include "platform/linux/gio_library.h"

#include <dlfcn.h>

#include <utility>

namespace tamberly {
namespace {

// GIO 2's soname: it brings GObject and GLib with it.
constexpr const char* kLibraryName = "libgio-2.0.so.0";

struct Loaded {
    GioLibrary library{};
    std::string failure;
};

// Each member of the table with the name it is found by.
template <typename Function> std::pair<const char*, void*> entry(const char* name, Function& function) {
    return {name, static_cast<void*>(&function)};
}

Loaded load() {
    Loaded loaded;
    // Never closed: the library stays for the program's life, as a linked one would.
    void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        loaded.failure = "GIO cannot be loaded (" + std::string(error ? error : kLibraryName) + ")";
        return loaded;
    }
    GioLibrary& g = loaded.library;
    const std::pair<const char*, void*> table[] = {
        entry("g_object_unref", g.object_unref),
        entry("g_error_free", g.error_free),
        entry("g_free", g.free),
        entry("g_strfreev", g.strfreev),
        entry("g_type_name", g.type_name),
        entry("g_main_context_new", g.main_context_new),
        entry("g_main_context_unref", g.main_context_unref),
        entry("g_main_context_push_thread_default", g.main_context_push_thread_default),
        entry("g_main_context_pop_thread_default", g.main_context_pop_thread_default),
        entry("g_variant_new", g.variant_new),
        entry("g_variant_unref", g.variant_unref),
        entry("g_bus_get_sync", g.bus_get_sync),
        entry("g_dbus_connection_call_sync", g.dbus_connection_call_sync),
        entry("g_dbus_connection_emit_signal", g.dbus_connection_emit_signal),
        entry("g_dbus_connection_flush_sync", g.dbus_connection_flush_sync),
        entry("g_settings_schema_source_get_default", g.settings_schema_source_get_default),
        entry("g_settings_schema_source_lookup", g.settings_schema_source_lookup),
        entry("g_settings_schema_unref", g.settings_schema_unref),
        entry("g_settings_backend_get_default", g.settings_backend_get_default),
        entry("g_settings_new_full", g.settings_new_full),
        entry("g_settings_delay", g.settings_delay),
        entry("g_settings_apply", g.settings_apply),
        entry("g_settings_sync", g.settings_sync),
        entry("g_settings_get_child", g.settings_get_child),
        entry("g_settings_is_writable", g.settings_is_writable),
        entry("g_settings_get_string", g.settings_get_string),
        entry("g_settings_set_string", g.settings_set_string),
        entry("g_settings_get_int", g.settings_get_int),
        entry("g_settings_set_int", g.settings_set_int),
        entry("g_settings_get_strv", g.settings_get_strv),
        entry("g_settings_set_strv", g.settings_set_strv),
    };
    for (const auto& [name, slot] : table) {
        void* function = dlsym(handle, name);
        if (!function) {
            loaded.failure = std::string(kLibraryName) + " lacks " + name;
            return loaded;
        }
        // Each slot is a function pointer of its own type; dlsym's answer is that function's address.
        *static_cast<void**>(slot) = function;
    }
    return loaded;
}

} // namespace

const GioLibrary* loadGio(std::string& why) {
    static const Loaded loaded = load();
    why = loaded.failure;
    return loaded.failure.empty() ? &loaded.library : nullptr;
}

} // namespace tamberly
