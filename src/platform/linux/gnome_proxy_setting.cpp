#include "platform/linux/gnome_proxy_setting.h"

#include "platform/linux/held_proxy_entry.h"

#include "platform/linux/gio_library.h"

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace tamberly::gnome_proxy {
namespace {

constexpr const char* kSchema = "org.gnome.system.proxy";
constexpr int kBusTimeoutMs = 2000;
constexpr std::array<const char*, 4> kChildren = {"http", "https", "ftp", "socks"};

// GIO, which every entry point below has loaded before anything calls it.
const GioLibrary& gio() {
    std::string unused;
    return *loadGio(unused);
}

struct GObjectDeleter {
    void operator()(gpointer p) const {
        if (p)
            gio().object_unref(p);
    }
};
template <typename T> using Ref = std::unique_ptr<T, GObjectDeleter>;

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error)
            gio().error_free(error);
    }
    std::string message() const { return error ? error->message : "unknown error"; }
};

// GIO posts its notifications to the thread's default context: give this thread one of its own, so nothing is
// queued to the window's loop.
class ThreadContext {
public:
    ThreadContext() : m_context(gio().main_context_new()) { gio().main_context_push_thread_default(m_context); }
    ~ThreadContext() {
        gio().main_context_pop_thread_default(m_context);
        gio().main_context_unref(m_context);
    }
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;

private:
    GMainContext* m_context;
};

// The schema and its four protocol children, ready to use; or why not.
struct Opened {
    Outcome outcome;
    Ref<GSettings> root;
    std::array<Ref<GSettings>, 4> children;
};

// delayed: every change, the children's too, waits in one change set until g_settings_apply on the root.
Opened open(bool delayed) {
    Opened opened;
    auto fail = [&](Unavailable why, std::string text) {
        opened.outcome = {why, std::move(text)};
        return std::move(opened);
    };
    // A plain g_settings_new on a missing schema ends the process; look it up first.
    GSettingsSchemaSource* source = gio().settings_schema_source_get_default();
    GSettingsSchema* schema = source ? gio().settings_schema_source_lookup(source, kSchema, TRUE) : nullptr;
    if (!schema)
        return fail(Unavailable::NoSchema, std::string("the schema ") + kSchema + " is not installed");
    std::unique_ptr<GSettingsSchema, decltype(&g_settings_schema_unref)> schemaRef(schema, gio().settings_schema_unref);

    // Without a session bus dconf takes every write and loses it; ask the bus for an answer first.
    ErrorHolder error;
    Ref<GDBusConnection> bus(gio().bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error.error));
    if (!bus)
        return fail(Unavailable::NoBus, "no session bus: " + error.message());
    GVariant* id = gio().dbus_connection_call_sync(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                               G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, &error.error);
    if (!id)
        return fail(Unavailable::NoBus, "the session bus does not answer: " + error.message());
    gio().variant_unref(id);

    // Without GIO's dconf module the settings go to a key file that no other program reads.
    Ref<GSettingsBackend> backend(gio().settings_backend_get_default());
    const char* backendType = gio().type_name(G_OBJECT_TYPE(backend.get()));
    if (std::strcmp(backendType, "DConfSettingsBackend") != 0)
        return fail(Unavailable::NotDconf, std::string("GIO stores settings with ") + backendType +
                                               " instead of dconf (is dconf-gsettings-backend installed?)");

    opened.root.reset(gio().settings_new_full(schema, backend.get(), nullptr));
    if (delayed)
        gio().settings_delay(opened.root.get());
    // Made after the delay, the children write into the root's pending change set.
    for (std::size_t i = 0; i < kChildren.size(); ++i)
        opened.children[i].reset(gio().settings_get_child(opened.root.get(), kChildren[i]));
    return opened;
}

const std::optional<ProxyEntry>& slot(const ProxyServers& servers, std::size_t i) {
    return i == 0 ? servers.http : i == 1 ? servers.https : i == 2 ? servers.ftp : servers.socks;
}
std::optional<ProxyEntry>& slot(ProxyServers& servers, std::size_t i) {
    return i == 0 ? servers.http : i == 1 ? servers.https : i == 2 ? servers.ftp : servers.socks;
}

std::vector<std::string> strv(GSettings* settings, const char* key) {
    std::vector<std::string> out;
    gchar** values = gio().settings_get_strv(settings, key);
    for (gchar** v = values; v && *v; ++v)
        out.emplace_back(*v);
    gio().strfreev(values);
    return out;
}

std::string text(GSettings* settings, const char* key) {
    gchar* value = gio().settings_get_string(settings, key);
    std::string out = value ? value : "";
    gio().free(value);
    return out;
}

const char* modeName(ProxyMode mode) {
    switch (mode) {
    case ProxyMode::Manual:
        return "manual";
    case ProxyMode::Automatic:
        return "auto";
    case ProxyMode::Off:
        break;
    }
    return "none";
}

// One key of the change: where it lives, and how to set it and to check it afterwards.
struct Key {
    GSettings* settings;
    std::string child; // "" for the schema itself, else ".http" and so on
    const char* name;
};

std::string readsOtherwise(const std::string& where) {
    return std::string("the change did not reach the desktop's settings store (") + kSchema + where +
           " reads back otherwise)";
}

} // namespace

Outcome write(const ProxySetting& change) {
    if (std::string why; !loadGio(why))
        return {Unavailable::NoGio, why};
    ThreadContext context;
    Opened opened = open(true);
    if (!opened.outcome.problem.empty())
        return opened.outcome;
    GSettings* root = opened.root.get();

    std::optional<std::vector<std::string>> ignoreHosts = change.bypass;
    if (!ignoreHosts && change.servers && strv(root, "ignore-hosts").empty())
        ignoreHosts = std::vector<std::string>{"localhost", "127.0.0.0/8", "::1"};

    // A locked key makes dconf drop the whole change set without a word: check each key before writing any.
    std::vector<Key> keys = {{root, "", "mode"}};
    if (change.mode == ProxyMode::Automatic)
        keys.push_back({root, "", "autoconfig-url"});
    if (ignoreHosts)
        keys.push_back({root, "", "ignore-hosts"});
    if (change.servers)
        for (std::size_t i = 0; i < kChildren.size(); ++i)
            for (const char* name : {"host", "port"})
                keys.push_back({opened.children[i].get(), std::string(".") + kChildren[i], name});
    for (const Key& key : keys)
        if (!gio().settings_is_writable(key.settings, key.name))
            return {Unavailable::None,
                    std::string("the key ") + kSchema + key.child + "." + key.name + " is locked by the administrator"};

    const char* mode = modeName(change.mode);
    gio().settings_set_string(root, "mode", mode);
    if (change.mode == ProxyMode::Automatic)
        gio().settings_set_string(root, "autoconfig-url", change.autoConfigUrl.c_str());
    if (ignoreHosts) {
        std::vector<const gchar*> list;
        for (const auto& host : *ignoreHosts)
            list.push_back(host.c_str());
        list.push_back(nullptr);
        gio().settings_set_strv(root, "ignore-hosts", list.data());
    }
    if (change.servers) {
        for (std::size_t i = 0; i < kChildren.size(); ++i) {
            const auto& proxy = slot(*change.servers, i);
            gio().settings_set_string(opened.children[i].get(), "host", proxy ? proxy->host.c_str() : "");
            gio().settings_set_int(opened.children[i].get(), "port", proxy ? proxy->port : 0);
        }
    }
    gio().settings_apply(root);
    gio().settings_sync();

    // Read back as the desktop's programs read it.
    if (text(root, "mode") != mode)
        return {Unavailable::None, readsOtherwise(" mode")};
    if (change.mode == ProxyMode::Automatic && text(root, "autoconfig-url") != change.autoConfigUrl)
        return {Unavailable::None, readsOtherwise(" autoconfig-url")};
    if (ignoreHosts && strv(root, "ignore-hosts") != *ignoreHosts)
        return {Unavailable::None, readsOtherwise(" ignore-hosts")};
    if (change.servers) {
        for (std::size_t i = 0; i < kChildren.size(); ++i) {
            const auto& proxy = slot(*change.servers, i);
            GSettings* child = opened.children[i].get();
            if (text(child, "host") != (proxy ? proxy->host : std::string()) ||
                gio().settings_get_int(child, "port") != (proxy ? proxy->port : 0))
                return {Unavailable::None, readsOtherwise(std::string(".") + kChildren[i])};
        }
    }
    return {};
}

Reading read() {
    Reading reading;
    if (std::string why; !loadGio(why)) {
        reading.outcome = {Unavailable::NoGio, why};
        return reading;
    }
    ThreadContext context;
    Opened opened = open(false);
    reading.outcome = opened.outcome;
    if (!opened.outcome.problem.empty())
        return reading;
    GSettings* root = opened.root.get();
    ProxySetting& setting = reading.setting;
    const std::string mode = text(root, "mode");
    setting.mode = mode == "manual" ? ProxyMode::Manual : mode == "auto" ? ProxyMode::Automatic : ProxyMode::Off;
    setting.autoConfigUrl = text(root, "autoconfig-url");
    setting.bypass = strv(root, "ignore-hosts");
    setting.servers.emplace();
    for (std::size_t i = 0; i < kChildren.size(); ++i) {
        const std::string host = text(opened.children[i].get(), "host");
        if (!host.empty())
            slot(*setting.servers, i) = heldProxyEntry(host, gio().settings_get_int(opened.children[i].get(), "port"),
                                                       i == 3 ? ProxyScheme::Socks5 : ProxyScheme::Http);
    }
    return reading;
}

} // namespace tamberly::gnome_proxy
