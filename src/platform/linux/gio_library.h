#pragma once

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <string>

namespace tamberly {

/// The GIO functions the desktop's proxy setting calls (GSettings for GNOME's, GDBus for KDE's signal). GIO is
/// loaded when the setting is first read or changed, not at start-up: with the six libraries it brings, linking it
/// would slow every start of the window, and the window shows before it needs the desktop.
struct GioLibrary {
    decltype(&g_object_unref) object_unref;
    decltype(&g_error_free) error_free;
    decltype(&g_free) free;
    decltype(&g_strfreev) strfreev;
    decltype(&g_type_name) type_name;
    decltype(&g_main_context_new) main_context_new;
    decltype(&g_main_context_unref) main_context_unref;
    decltype(&g_main_context_push_thread_default) main_context_push_thread_default;
    decltype(&g_main_context_pop_thread_default) main_context_pop_thread_default;
    decltype(&g_variant_new) variant_new;
    decltype(&g_variant_unref) variant_unref;
    decltype(&g_bus_get_sync) bus_get_sync;
    decltype(&g_dbus_connection_call_sync) dbus_connection_call_sync;
    decltype(&g_dbus_connection_emit_signal) dbus_connection_emit_signal;
    decltype(&g_dbus_connection_flush_sync) dbus_connection_flush_sync;
    decltype(&g_settings_schema_source_get_default) settings_schema_source_get_default;
    decltype(&g_settings_schema_source_lookup) settings_schema_source_lookup;
    decltype(&g_settings_schema_unref) settings_schema_unref;
    decltype(&g_settings_backend_get_default) settings_backend_get_default;
    decltype(&g_settings_new_full) settings_new_full;
    decltype(&g_settings_delay) settings_delay;
    decltype(&g_settings_apply) settings_apply;
    decltype(&g_settings_sync) settings_sync;
    decltype(&g_settings_get_child) settings_get_child;
    decltype(&g_settings_is_writable) settings_is_writable;
    decltype(&g_settings_get_string) settings_get_string;
    decltype(&g_settings_set_string) settings_set_string;
    decltype(&g_settings_get_int) settings_get_int;
    decltype(&g_settings_set_int) settings_set_int;
    decltype(&g_settings_get_strv) settings_get_strv;
    decltype(&g_settings_set_strv) settings_set_strv;
};

/// GIO, loaded on the first call; nullptr when it cannot be, with why saying what failed.
const GioLibrary* loadGio(std::string& why);

} // namespace tamberly
