#include "engine/desktopproxyreader.h"

#include "engine/desktopproxy.h"

#ifdef TAVISK_HAVE_GIO
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#endif

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

#ifdef TAVISK_HAVE_GIO
const char kGnomeProxySchema[] = "org.gnome.system.proxy";

std::string takeString(gchar *value)
{
    std::string text = value != nullptr ? value : "";
    g_free(value);
    return text;
}

GnomeProxyValues::Server gnomeServer(GSettings *proxy, const char *child)
{
    GSettings *settings = g_settings_get_child(proxy, child);
    GnomeProxyValues::Server server;
    server.host = takeString(g_settings_get_string(settings, "host"));
    server.port = g_settings_get_int(settings, "port");
    g_object_unref(settings);
    return server;
}

// Whether GSettings reads a store of the person's (dconf's database, or what GSETTINGS_BACKEND
// names). Without one GLib falls back to a store in memory, whose defaults ("no proxy") are
// nobody's settings and must not overrule the environment's.
bool settingsArePersons()
{
    GSettingsBackend *backend = g_settings_backend_get_default();
    const bool inMemory = std::strcmp(G_OBJECT_TYPE_NAME(backend), "GMemorySettingsBackend") == 0;
    g_object_unref(backend);
    return !inMemory;
}

// False when GSettings does not know the schema (gsettings-desktop-schemas is not installed):
// g_settings_new would abort the process.
bool readGnomeProxy(GnomeProxyValues *values)
{
    if (!settingsArePersons())
        return false;
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema = source != nullptr
        ? g_settings_schema_source_lookup(source, kGnomeProxySchema, TRUE)
        : nullptr;
    if (schema == nullptr)
        return false;
    g_settings_schema_unref(schema);
    GSettings *proxy = g_settings_new(kGnomeProxySchema);
    values->mode = takeString(g_settings_get_string(proxy, "mode"));
    values->autoconfigUrl = takeString(g_settings_get_string(proxy, "autoconfig-url"));
    gchar **ignoreHosts = g_settings_get_strv(proxy, "ignore-hosts");
    for (gchar **host = ignoreHosts; host != nullptr && *host != nullptr; ++host)
        values->ignoreHosts.emplace_back(*host);
    g_strfreev(ignoreHosts);
    values->http = gnomeServer(proxy, "http");
    values->https = gnomeServer(proxy, "https");
    values->socks = gnomeServer(proxy, "socks");
    g_object_unref(proxy);
    return true;
}
#else
// Built without GIO: GNOME's settings are left to the environment's variables.
bool readGnomeProxy(GnomeProxyValues *)
{
    return false;
}
#endif

std::string kioslavercText(const EnvironmentLookup &environment)
{
    std::string text;
    for (const std::string &path : kioslavercPaths(environment)) {
        std::ifstream file(path);
        if (!file)
            continue;
        std::ostringstream contents;
        contents << file.rdbuf();
        text += contents.str() + "\n";
    }
    return text;
}

} // namespace

std::vector<std::string> desktopProxySwitches(const EnvironmentLookup &environment,
                                              const std::vector<std::string> &engineSwitches)
{
    if (proxyChosenBySwitches(engineSwitches))
        return {};
    switch (proxyDesktop(environment)) {
    case ProxyDesktop::Gnome: {
        GnomeProxyValues values;
        return readGnomeProxy(&values) ? gnomeProxySwitches(values) : std::vector<std::string>();
    }
    case ProxyDesktop::Kde:
        return kdeProxySwitches(kioslavercText(environment), environment);
    case ProxyDesktop::Other:
        break;
    }
    return {};
}
