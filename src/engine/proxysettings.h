// The proxy configuration the web engine uses, worked out once at start-up.
#pragma once

#include "engine/enginearguments.h"
#include "engine/environment.h"

#include <string>
#include <utility>
#include <vector>

// What the engine was told about proxies: its own switches and the environment's proxy
// variables. A plain value, read once before the engine starts and handed to whoever names a
// proxy to the person; nothing after start-up reads the command line or the environment again.
struct ProxySettings {
    // The values of the engine's --proxy-server switches ("[scheme=]host[:port];…"), in order.
    std::vector<std::string> proxyServers;
    // The value of the engine's --proxy-pac-url switch; empty when it is not given.
    std::string pacUrl;
    // The environment's proxy variables that are set (http_proxy, https_proxy, all_proxy, then
    // the same in capitals), as {name, value}, in that order.
    std::vector<std::pair<std::string, std::string>> environmentProxies;
};

// The settings in `engine` and `environment`. Pure: it reads only those.
ProxySettings proxySettingsRead(const EngineArguments &engine,
                                const EnvironmentLookup &environment);

// "host:port" for the proxy named `host` by a --proxy-server switch or by an environment proxy
// variable, the first that names it; `host` alone when none does (the engine names a proxy
// that asks for a password without its port).
std::string proxyAuthority(const ProxySettings &settings, const std::string &host);
