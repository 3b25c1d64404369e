// Reads the proxy settings of the person's desktop for the engine's start.
#pragma once

#include "engine/environment.h"

#include <string>
#include <vector>

// The engine's proxy switches that say what the desktop's settings say (see desktopproxy.h):
// GNOME's org.gnome.system.proxy read through GSettings, or KDE's kioslaverc files, as
// proxyDesktop(environment) names the desktop. Empty on any other desktop, when the settings
// cannot be read or name nothing usable, and when `engineSwitches` already choose the proxy.
std::vector<std::string> desktopProxySwitches(const EnvironmentLookup &environment,
                                              const std::vector<std::string> &engineSwitches);
