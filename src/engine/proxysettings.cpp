#include "engine/proxysettings.h"

#include <algorithm>
#include <cctype>

namespace {

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "host:port" of one proxy in the forms the engine and the environment variables take:
// "[scheme=][scheme://][user:password@]host[:port][/]"; the host alone when it carries no port.
// Empty when it is not the proxy `host`.
std::string authorityIfNamed(std::string entry, const std::string &host)
{
    const std::size_t assignment = entry.find('=');
    if (assignment != std::string::npos && assignment < entry.find("://"))
        entry.erase(0, assignment + 1);
    const std::size_t scheme = entry.find("://");
    if (scheme != std::string::npos)
        entry.erase(0, scheme + 3);
    entry = entry.substr(0, entry.find('/'));
    const std::size_t at = entry.rfind('@');
    if (at != std::string::npos)
        entry.erase(0, at + 1);
    const std::size_t bracket = entry.rfind(']');
    const std::size_t colon = entry.rfind(':');
    const bool hasPort
        = colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
    std::string entryHost = hasPort ? entry.substr(0, colon) : entry;
    if (entryHost.size() > 2 && entryHost.front() == '[' && entryHost.back() == ']')
        entryHost = entryHost.substr(1, entryHost.size() - 2);
    if (entryHost.empty() || lowercase(entryHost) != lowercase(host))
        return std::string();
    return hasPort ? host + entry.substr(colon) : host;
}

std::string authorityIn(const std::string &list, char separator, const std::string &host)
{
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(separator, start), list.size());
        const std::string found = authorityIfNamed(list.substr(start, end - start), host);
        if (!found.empty())
            return found;
        start = end + 1;
    }
    return std::string();
}

} // namespace

ProxySettings proxySettingsRead(const EngineArguments &engine, const EnvironmentLookup &environment)
{
    const std::string proxyServer = "--proxy-server=";
    const std::string pacUrl = "--proxy-pac-url=";
    ProxySettings settings;
    for (const std::string &argument : engine.switches) {
        if (startsWith(argument, proxyServer))
            settings.proxyServers.push_back(argument.substr(proxyServer.size()));
        else if (startsWith(argument, pacUrl))
            settings.pacUrl = argument.substr(pacUrl.size());
    }
    for (const char *name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        if (const char *value = environment(name))
            settings.environmentProxies.emplace_back(name, value);
    }
    return settings;
}

std::string proxyAuthority(const ProxySettings &settings, const std::string &host)
{
    for (const std::string &servers : settings.proxyServers) {
        const std::string found = authorityIn(servers, ';', host);
        if (!found.empty())
            return found;
    }
    for (const auto &variable : settings.environmentProxies) {
        const std::string found = authorityIfNamed(variable.second, host);
        if (!found.empty())
            return found;
    }
    return host;
}
