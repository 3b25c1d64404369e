// An environment for the start-up rules' tests: a map read as the process environment.
#pragma once

#include "engine/environment.h"

#include <map>
#include <string>

namespace testsupport {

// Reads `environment`, which must outlive the lookup.
inline EnvironmentLookup lookupIn(const std::map<std::string, std::string> &environment)
{
    return [&environment](const char *name) -> const char * {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };
}

} // namespace testsupport
