// The switches the web engine reads, read the way the engine reads them.
#pragma once

#include "engine/environment.h"

#include <string>
#include <vector>

// What ends Qt's own arguments on the command line and starts the engine's.
inline constexpr char kEngineArgumentsMarker[] = "--webEngineArgs";

// The switches the engine reads: QTWEBENGINE_CHROMIUM_FLAGS split as engineFlagsSplit splits it
// when it is set at all, otherwise the arguments after the first "--webEngineArgs" (Qt hands
// the engine one or the other, never both). Pure: it reads only `environment` and
// argv[1..argc-1].
struct EngineArguments {
    std::vector<std::string> switches;
    bool fromFlagsVariable = false;
    bool markerGiven = false; // the command line holds "--webEngineArgs"
};
EngineArguments engineArgumentsRead(const EnvironmentLookup &environment, int argc,
                                    const char *const *argv);

// QTWEBENGINE_CHROMIUM_FLAGS as the engine splits it: at spaces only (a tab belongs to its
// word), runs of spaces ending one word, and double quotes grouping what they enclose into one
// word without being part of it ("--a=\"b c\"" is "--a=b c").
std::vector<std::string> engineFlagsSplit(const std::string &flags);

// `switches` as QTWEBENGINE_CHROMIUM_FLAGS, which engineFlagsSplit reads back as they are: a
// switch holding a space is quoted.
std::string engineFlagsJoined(const std::vector<std::string> &switches);
