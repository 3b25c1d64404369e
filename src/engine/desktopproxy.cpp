#include "engine/desktopproxy.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace {

const char kNoProxy[] = "--no-proxy-server";
const char kProxyServer[] = "--proxy-server=";
const char kBypassList[] = "--proxy-bypass-list=";
const char kPacUrl[] = "--proxy-pac-url=";
const char kAutoDetect[] = "--proxy-auto-detect";

// The entries of a colon- or comma-separated list, empty ones left out.
std::vector<std::string> split(const std::string &text, const std::string &separators)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string trimmed(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string variable(const EnvironmentLookup &environment, const char *name)
{
    const char *value = environment(name);
    return value != nullptr ? value : std::string();
}

// Which settings a desktop's name stands for, or nothing for a desktop whose browsers follow
// only the environment; `known` is false for a name browsers do not know.
ProxyDesktop desktopNamed(const std::string &name, bool *known)
{
    *known = true;
    for (const char *gnomeLike : {"GNOME", "Unity", "X-Cinnamon", "Pantheon", "Deepin", "UKUI"}) {
        if (name == gnomeLike)
            return ProxyDesktop::Gnome;
    }
    if (name == "KDE")
        return ProxyDesktop::Kde;
    if (name == "XFCE" || name == "LXQt")
        return ProxyDesktop::Other;
    *known = false;
    return ProxyDesktop::Other;
}

// A proxy as the engine's --proxy-server takes it: "[scheme://]host[:port]"; empty for none.
// `socks` proxies are SOCKS 5 unless they say otherwise, as browsers take the desktop's.
std::string proxyUri(std::string hostAndPort, bool socks)
{
    hostAndPort = trimmed(hostAndPort);
    if (hostAndPort.empty())
        return std::string();
    const std::size_t scheme = hostAndPort.find("://");
    if (!socks)
        return hostAndPort;
    if (scheme == std::string::npos)
        return "socks5://" + hostAndPort;
    if (hostAndPort.compare(0, scheme, "socks") == 0)
        return "socks5" + hostAndPort.substr(scheme);
    return hostAndPort;
}

// The switches for proxies named by hand, each empty when not named; nothing when none is.
std::vector<std::string> manualSwitches(const std::string &http, const std::string &https,
                                        const std::string &socks,
                                        const std::vector<std::string> &bypass)
{
    std::string servers;
    if (http.empty() && https.empty()) {
        // A SOCKS proxy alone carries everything.
        servers = socks;
    } else {
        for (const auto &[scheme, uri] : {std::pair<const char *, std::string>{"http", http},
                                          {"https", https},
                                          {"socks", socks}}) {
            if (!uri.empty())
                servers += (servers.empty() ? "" : ";") + std::string(scheme) + "=" + uri;
        }
    }
    if (servers.empty())
        return {};
    std::vector<std::string> switches{kProxyServer + servers};
    std::string list;
    for (const std::string &rule : bypass)
        list += (list.empty() ? "" : ",") + rule;
    if (!list.empty())
        switches.push_back(kBypassList + list);
    return switches;
}

// The switch for automatic configuration: the PAC address (a file path made a file: URL), or
// WPAD when there is none.
std::vector<std::string> automaticSwitches(std::string pacUrl)
{
    pacUrl = trimmed(pacUrl);
    if (pacUrl.empty())
        return {kAutoDetect};
    if (pacUrl.front() == '/')
        pacUrl = "file://" + pacUrl;
    return {kPacUrl + pacUrl};
}

std::string gnomeServer(const GnomeProxyValues::Server &server, bool socks)
{
    if (trimmed(server.host).empty())
        return std::string();
    // A port of 0 leaves the scheme's own port.
    const std::string port = server.port > 0 ? ":" + std::to_string(server.port) : "";
    return proxyUri(trimmed(server.host) + port, socks);
}

// A kioslaverc proxy entry: "scheme://host port" (KDE puts a space before the port), or
// "host:port" from older versions.
std::string kdeServer(std::string value, bool socks)
{
    value = trimmed(value);
    if (value.compare(0, 3, "//:") == 0)
        return std::string(); // KDE's way of writing "none"
    const std::size_t space = value.find(' ');
    if (space != std::string::npos)
        value = trimmed(value.substr(0, space)) + ":" + trimmed(value.substr(space + 1));
    return proxyUri(value, socks);
}

// KDE matches a host rule by its ending, as "*rule": "corp.example" also covers
// "intranet.corp.example". Addresses, networks and rules that already say how they match stay.
std::string kdeBypassRule(const std::string &rule)
{
    const bool isAddress = rule.find_first_not_of("0123456789.:[]/") == std::string::npos;
    if (isAddress || rule.front() == '*' || rule.front() == '.' || rule.front() == '<')
        return rule;
    return "*" + rule;
}

// The [Proxy Settings] group of kioslaverc files given one after the other: a later value for a
// key replaces an earlier one. A key's KConfig flags ("key[$e]") are dropped.
std::map<std::string, std::string> proxySettingsGroup(const std::string &kioslaverc)
{
    std::map<std::string, std::string> values;
    bool inGroup = false;
    for (const std::string &rawLine : split(kioslaverc, "\n")) {
        const std::string line = trimmed(rawLine);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inGroup = line == "[Proxy Settings]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inGroup || equals == std::string::npos)
            continue;
        std::string key = trimmed(line.substr(0, equals));
        key = trimmed(key.substr(0, key.find('[')));
        values[key] = trimmed(line.substr(equals + 1));
    }
    return values;
}

} // namespace

ProxyDesktop proxyDesktop(const EnvironmentLookup &environment)
{
    for (const std::string &name : split(variable(environment, "XDG_CURRENT_DESKTOP"), ":")) {
        bool known = false;
        const ProxyDesktop desktop = desktopNamed(name, &known);
        if (known)
            return desktop;
    }
    const std::string session = variable(environment, "DESKTOP_SESSION");
    if (session == "gnome" || session == "mate" || session == "deepin")
        return ProxyDesktop::Gnome;
    if (session.compare(0, 3, "kde") == 0)
        return ProxyDesktop::Kde;
    if (environment("GNOME_DESKTOP_SESSION_ID") != nullptr)
        return ProxyDesktop::Gnome;
    if (environment("KDE_FULL_SESSION") != nullptr)
        return ProxyDesktop::Kde;
    return ProxyDesktop::Other;
}

std::vector<std::string> gnomeProxySwitches(const GnomeProxyValues &values)
{
    if (values.mode == "none")
        return {kNoProxy};
    if (values.mode == "auto")
        return automaticSwitches(values.autoconfigUrl);
    if (values.mode != "manual")
        return {};
    return manualSwitches(gnomeServer(values.http, false), gnomeServer(values.https, false),
                          gnomeServer(values.socks, true), values.ignoreHosts);
}

std::vector<std::string> kdeProxySwitches(const std::string &kioslaverc,
                                          const EnvironmentLookup &environment)
{
    std::map<std::string, std::string> values = proxySettingsGroup(kioslaverc);
    const char *const proxyKeys[] = {"httpProxy", "httpsProxy", "socksProxy"};
    if (values.count("ProxyType") == 0)
        return {}; // no kioslaverc, or one that never chose
    const std::string type = values["ProxyType"];
    if (type == "0")
        return {kNoProxy};
    if (type == "2")
        return automaticSwitches(values["Proxy Config Script"]);
    if (type == "3")
        return {kAutoDetect};
    if (type == "4") {
        // Each entry names the environment variable that holds the value.
        for (const char *key : proxyKeys)
            values[key] = variable(environment, values[key].c_str());
        values["NoProxyFor"] = variable(environment, values["NoProxyFor"].c_str());
    } else if (type != "1") {
        return {};
    }
    const std::string reversed = values["ReversedException"];
    if (reversed == "true" || std::atoi(reversed.c_str()) != 0) {
        // "Use the proxy only for these hosts" has no switch of the engine's.
        return {};
    }
    std::vector<std::string> bypass;
    for (const std::string &rule : split(values["NoProxyFor"], ", "))
        bypass.push_back(kdeBypassRule(rule));
    return manualSwitches(kdeServer(values["httpProxy"], false),
                          kdeServer(values["httpsProxy"], false),
                          kdeServer(values["socksProxy"], true), bypass);
}

std::vector<std::string> kioslavercPaths(const EnvironmentLookup &environment)
{
    std::vector<std::string> folders = split(variable(environment, "XDG_CONFIG_DIRS"), ":");
    if (folders.empty())
        folders.emplace_back("/etc/xdg");
    // XDG_CONFIG_DIRS lists the most important folder first.
    std::reverse(folders.begin(), folders.end());
    const std::string configHome = variable(environment, "XDG_CONFIG_HOME");
    const std::string home = variable(environment, "HOME");
    if (!configHome.empty())
        folders.push_back(configHome);
    else if (!home.empty())
        folders.push_back(home + "/.config");
    std::vector<std::string> paths;
    for (const std::string &folder : folders)
        paths.push_back(folder + "/kioslaverc");
    return paths;
}

bool proxyChosenBySwitches(const std::vector<std::string> &engineSwitches)
{
    for (const std::string &argument : engineSwitches) {
        const std::string name = argument.substr(0, argument.find('='));
        if (name == kNoProxy || name == kAutoDetect || name + "=" == kProxyServer
            || name + "=" == kPacUrl)
            return true;
    }
    return false;
}
