// How the engine's start-up rules read the environment, so that a test can hand them one.
#pragma once

#include <functional>

// The value of an environment variable, or nullptr when it is not set.
using EnvironmentLookup = std::function<const char *(const char *name)>;

// Whether a variable is set to something: the engine and Qt take an empty value as unset.
inline bool isNonEmpty(const char *value)
{
    return value != nullptr && value[0] != '\0';
}
