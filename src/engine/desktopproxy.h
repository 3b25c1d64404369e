// The proxy a person's desktop names (GNOME's settings, KDE's kioslaverc), read as browsers on
// Linux read it, and said to the engine in its own proxy switches.
#pragma once

#include "engine/environment.h"

#include <string>
#include <vector>

// Whose proxy settings a browser follows on this desktop. Browsers built on Chromium decide it
// from XDG_CURRENT_DESKTOP's first entry they know, else from DESKTOP_SESSION,
// GNOME_DESKTOP_SESSION_ID or KDE_FULL_SESSION; GNOME and the desktops built on it read
// org.gnome.system.proxy, KDE reads kioslaverc, any other desktop only the environment.
enum class ProxyDesktop { Other, Gnome, Kde };
ProxyDesktop proxyDesktop(const EnvironmentLookup &environment);

// The values of GSettings' org.gnome.system.proxy (and its children http, https, socks) that
// name a proxy.
struct GnomeProxyValues {
    struct Server {
        std::string host;
        int port = 0;
    };
    std::string mode; // "none", "manual" or "auto"
    std::string autoconfigUrl;
    Server http;
    Server https;
    Server socks;
    std::vector<std::string> ignoreHosts;
};

// The engine's switches that say what the settings say: "--no-proxy-server" for no proxy;
// "--proxy-server=…" with "--proxy-bypass-list=…" for proxies named by hand; "--proxy-pac-url=…"
// for a PAC address; "--proxy-auto-detect" for automatic with no address (WPAD). Empty when the
// settings name nothing usable (manual with no proxy, a ProxyType KDE does not know, KDE's
// "use the proxy only for these hosts"): the environment's variables then decide, as they do
// in browsers.
std::vector<std::string> gnomeProxySwitches(const GnomeProxyValues &values);
// `kioslaverc` is the text of every kioslaverc file, the least important first, so that a later
// file's value wins as in KDE's own reading; ProxyType 4 ("use the environment's variables")
// looks the variables it names up in `environment`.
std::vector<std::string> kdeProxySwitches(const std::string &kioslaverc,
                                          const EnvironmentLookup &environment);

// The kioslaverc files KDE reads, the least important first: each folder of XDG_CONFIG_DIRS
// (/etc/xdg when unset), then XDG_CONFIG_HOME (~/.config when unset).
std::vector<std::string> kioslavercPaths(const EnvironmentLookup &environment);

// Whether the engine's own switches already say how to find the proxy; the desktop's settings
// then stay out, as the command line wins in browsers too.
bool proxyChosenBySwitches(const std::vector<std::string> &engineSwitches);
