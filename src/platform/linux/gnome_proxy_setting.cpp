#include "platform/linux/gnome_proxy_setting.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <cstring>
#include <functional>
#include <memory>

namespace tamberly::gnome_proxy {
namespace {

constexpr const char* kSchema = "org.gnome.system.proxy";
constexpr int kBusTimeoutMs = 2000;
const char* const kChildren[] = {"http", "https", "ftp", "socks"};

struct GObjectDeleter {
    void operator()(gpointer p) const {
        if (p)
            g_object_unref(p);
    }
};
template <typename T> using Ref = std::unique_ptr<T, GObjectDeleter>;

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error)
            g_error_free(error);
    }
    std::string message() const { return error ? error->message : "unknown error"; }
};

// GIO posts its notifications to the thread's default context: give this thread one of its own, so nothing is
// queued to the window's loop.
class ThreadContext {
public:
    ThreadContext() : m_context(g_main_context_new()) { g_main_context_push_thread_default(m_context); }
    ~ThreadContext() {
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;

private:
    GMainContext* m_context;
};

// The parent object and its four protocol children, ready to use; or why not.
struct Opened {
    Outcome outcome;
    Ref<GSettings> root;
    Ref<GSettings> children[4];
};

Opened open(bool delayed) {
    Opened opened;
    auto fail = [&](Unavailable why, std::string text) {
        opened.outcome = {why, std::move(text)};
        return std::move(opened);
    };
    // A plain g_settings_new on a missing schema ends the process; look it up first.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, kSchema, TRUE) : nullptr;
    if (!schema)
        return fail(Unavailable::NoSchema, std::string("the schema ") + kSchema + " is not installed");
    std::unique_ptr<GSettingsSchema, decltype(&g_settings_schema_unref)> schemaRef(schema, g_settings_schema_unref);

    // Without a session bus dconf takes every write and loses it; ask the bus for an answer first.
    ErrorHolder error;
    Ref<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error.error));
    if (!bus)
        return fail(Unavailable::NoBus, "no session bus: " + error.message());
    GVariant* id = g_dbus_connection_call_sync(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus", "GetId", nullptr, G_VARIANT_TYPE("(s)"),
                                               G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, &error.error);
    if (!id)
        return fail(Unavailable::NoBus, "the session bus does not answer: " + error.message());
    g_variant_unref(id);

    // Without GIO's dconf module the settings go to a key file that no other program reads.
    Ref<GSettingsBackend> backend(g_settings_backend_get_default());
    const char* backendType = G_OBJECT_TYPE_NAME(backend.get());
    if (std::strcmp(backendType, "DConfSettingsBackend") != 0)
        return fail(Unavailable::NotDconf, std::string("GIO stores settings with ") + backendType +
                                               " instead of dconf (is dconf-gsettings-backend installed?)");

    opened.root.reset(g_settings_new_full(schema, backend.get(), nullptr));
    if (delayed)
        g_settings_delay(opened.root.get());
    for (int i = 0; i < 4; ++i)
        opened.children[i].reset(g_settings_get_child(opened.root.get(), kChildren[i]));
    return opened;
}

GSettings* childFor(Opened& opened, int i) {
    return opened.children[i].get();
}

const ProxyHost& hostOf(const ProxyServers& servers, int i) {
    return i == 0 ? servers.http : i == 1 ? servers.https : i == 2 ? servers.ftp : servers.socks;
}
ProxyHost& hostOf(ProxyServers& servers, int i) {
    return i == 0 ? servers.http : i == 1 ? servers.https : i == 2 ? servers.ftp : servers.socks;
}

std::vector<std::string> strv(GSettings* settings, const char* key) {
    std::vector<std::string> out;
    gchar** values = g_settings_get_strv(settings, key);
    for (gchar** v = values; v && *v; ++v)
        out.emplace_back(*v);
    g_strfreev(values);
    return out;
}

std::string text(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    std::string out = value ? value : "";
    g_free(value);
    return out;
}

// A locked key makes dconf drop the whole change set without a word: check each key before writing any.
std::string lockedKey(GSettings* settings, const char* path, const char* key) {
    if (g_settings_is_writable(settings, key))
        return {};
    return std::string("the key ") + path + key + " is locked by the administrator";
}

// Applies the delayed changes, waits until dconf has them, then checks that each expected value is read back.
Outcome applyAndCheck(Opened& opened, const std::function<std::string()>& readBack) {
    g_settings_apply(opened.root.get());
    g_settings_sync();
    Outcome outcome;
    outcome.problem = readBack();
    return outcome;
}

} // namespace

Outcome writeServers(const ProxyServers& servers) {
    ThreadContext context;
    Opened opened = open(true);
    if (!opened.outcome.problem.empty())
        return opened.outcome;
    for (int i = 0; i < 4; ++i) {
        const std::string path = std::string(kSchema) + "." + kChildren[i] + ".";
        for (const char* key : {"host", "port"})
            if (auto locked = lockedKey(childFor(opened, i), path.c_str(), key); !locked.empty())
                return {Unavailable::None, locked};
    }
    const bool addIgnoreHosts = strv(opened.root.get(), "ignore-hosts").empty();
    if (addIgnoreHosts)
        if (auto locked = lockedKey(opened.root.get(), "org.gnome.system.proxy.", "ignore-hosts"); !locked.empty())
            return {Unavailable::None, locked};

    for (int i = 0; i < 4; ++i) {
        const ProxyHost& proxy = hostOf(servers, i);
        g_settings_set_string(childFor(opened, i), "host", proxy.host.c_str());
        g_settings_set_int(childFor(opened, i), "port", proxy.port);
    }
    if (addIgnoreHosts) {
        const gchar* const local[] = {"localhost", "127.0.0.0/8", "::1", nullptr};
        g_settings_set_strv(opened.root.get(), "ignore-hosts", local);
    }
    return applyAndCheck(opened, [&]() -> std::string {
        for (int i = 0; i < 4; ++i) {
            const ProxyHost& proxy = hostOf(servers, i);
            if (text(childFor(opened, i), "host") != proxy.host ||
                g_settings_get_int(childFor(opened, i), "port") != proxy.port)
                return std::string("the change did not reach the desktop's settings store (") + kSchema + "." +
                       kChildren[i] + " reads back otherwise)";
        }
        return {};
    });
}

Outcome writeMode(bool manual) {
    ThreadContext context;
    Opened opened = open(true);
    if (!opened.outcome.problem.empty())
        return opened.outcome;
    if (auto locked = lockedKey(opened.root.get(), "org.gnome.system.proxy.", "mode"); !locked.empty())
        return {Unavailable::None, locked};
    const char* mode = manual ? "manual" : "none";
    g_settings_set_string(opened.root.get(), "mode", mode);
    return applyAndCheck(opened, [&]() -> std::string {
        if (text(opened.root.get(), "mode") != mode)
            return std::string("the change did not reach the desktop's settings store (") + kSchema +
                   " mode reads back otherwise)";
        return {};
    });
}

Outcome read(State& state) {
    ThreadContext context;
    Opened opened = open(false);
    if (!opened.outcome.problem.empty())
        return opened.outcome;
    state.mode = text(opened.root.get(), "mode");
    state.ignoreHosts = strv(opened.root.get(), "ignore-hosts");
    for (int i = 0; i < 4; ++i) {
        hostOf(state.servers, i).host = text(childFor(opened, i), "host");
        hostOf(state.servers, i).port = g_settings_get_int(childFor(opened, i), "port");
    }
    return {};
}

} // namespace tamberly::gnome_proxy
