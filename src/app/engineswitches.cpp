#include "app/engineswitches.h"

#include <QtGlobal>

#include <algorithm>
#include <cctype>

namespace {

// The allow-list switches under both names. Chromium 102 (Qt 6.4) reads only the older name;
// Chromium 122 (Qt 6.8) only the newer. The engines of Qt 6.5 to 6.7 get both names, since an
// engine ignores a switch it does not know.
struct AllowListSwitch {
    const char *newer;
    const char *older;
};
const AllowListSwitch kAllowListSwitches[] = {
    {"auth-server-allowlist", "auth-server-whitelist"},
    {"auth-negotiate-delegate-allowlist", "auth-negotiate-delegate-whitelist"},
};

bool readsOlderName(int qtVersion)
{
    return qtVersion < QT_VERSION_CHECK(6, 8, 0);
}

bool readsNewerName(int qtVersion)
{
    return qtVersion >= QT_VERSION_CHECK(6, 5, 0);
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

std::vector<std::string> inEngineSpelling(const std::string &argument, int qtVersion)
{
    for (const AllowListSwitch &names : kAllowListSwitches) {
        for (const char *name : {names.newer, names.older}) {
            const std::string prefix = std::string("--") + name + "=";
            if (argument.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string value = argument.substr(prefix.size());
            std::vector<std::string> handedOn;
            if (readsNewerName(qtVersion))
                handedOn.push_back(std::string("--") + names.newer + "=" + value);
            if (readsOlderName(qtVersion))
                handedOn.push_back(std::string("--") + names.older + "=" + value);
            return handedOn;
        }
    }
    return {argument};
}

EngineSwitches engineSwitches(const EnvironmentLookup &environment, int argc,
                              const char *const *argv, const RenderingChoice &rendering,
                              int qtVersion)
{
    EngineSwitches result;
    const EngineArguments engine = engineArgumentsRead(environment, argc, argv);
    bool engineReadsThis = false;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        const std::string argument = argv[i];
        if (engineReadsThis && !engine.fromFlagsVariable) {
            for (std::string &spelled : inEngineSpelling(argument, qtVersion))
                result.arguments.push_back(std::move(spelled));
        } else {
            result.arguments.push_back(argument);
        }
        engineReadsThis = engineReadsThis || (i > 0 && argument == "--webEngineArgs");
    }
    if (!rendering.appendToFlagsVariable) {
        result.arguments.insert(result.arguments.end(), rendering.appendArguments.begin(),
                                rendering.appendArguments.end());
    }
    if (engine.fromFlagsVariable) {
        std::vector<std::string> switches;
        for (const std::string &word : engine.switches) {
            for (std::string &spelled : inEngineSpelling(word, qtVersion))
                switches.push_back(std::move(spelled));
        }
        if (rendering.appendToFlagsVariable) {
            switches.insert(switches.end(), rendering.appendArguments.begin(),
                            rendering.appendArguments.end());
        }
        result.setFlagsVariable = true;
        for (const std::string &word : switches)
            result.flagsVariable += (result.flagsVariable.empty() ? "" : " ") + word;
    }
    return result;
}

std::string proxyAuthority(const std::string &host, const EnvironmentLookup &environment, int argc,
                           const char *const *argv)
{
    const std::string proxyServer = "--proxy-server=";
    for (const std::string &argument : engineArgumentsRead(environment, argc, argv).switches) {
        if (argument.compare(0, proxyServer.size(), proxyServer) != 0)
            continue;
        const std::string found = authorityIn(argument.substr(proxyServer.size()), ';', host);
        if (!found.empty())
            return found;
    }
    for (const char *name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        const char *value = environment(name);
        const std::string found = value != nullptr ? authorityIfNamed(value, host) : std::string();
        if (!found.empty())
            return found;
    }
    return host;
}
