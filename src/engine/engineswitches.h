// The switches the helper hands the web engine.
#pragma once

#include "engine/environment.h"
#include "engine/renderingchoice.h"

#include <string>
#include <vector>

// What `argument` becomes for the engine of Qt `qtVersion` (QT_VERSION_CHECK's encoding). An
// administrator may allow Kerberos servers with --auth-server-allowlist or its older name
// --auth-server-whitelist, and delegation with --auth-negotiate-delegate-allowlist or
// -whitelist; each engine reads one name and silently ignores the other, so either is handed
// on in the name that engine reads. Any other argument is handed on as it is.
std::vector<std::string> inEngineSpelling(const std::string &argument, int qtVersion);

// The command line and QTWEBENGINE_CHROMIUM_FLAGS as the helper hands them to Qt.
struct EngineSwitches {
    // The whole command line for the application object, argv[0] first.
    std::vector<std::string> arguments;
    // QTWEBENGINE_CHROMIUM_FLAGS is to be set to `flagsVariable` before the application object
    // exists.
    bool setFlagsVariable = false;
    std::string flagsVariable;
};

// The engine reads QTWEBENGINE_CHROMIUM_FLAGS alone once it is set, and otherwise what follows
// "--webEngineArgs" on the command line: the engine's switches there are handed on in the
// engine's spelling, and the rendering choice's own switches are added where the engine reads
// them. Pure: it reads only `environment` and argv[0..argc-1].
EngineSwitches engineSwitches(const EnvironmentLookup &environment, int argc,
                              const char *const *argv, const RenderingChoice &rendering,
                              int qtVersion);

// `switches` added where the engine reads them: at the end of QTWEBENGINE_CHROMIUM_FLAGS when
// the engine reads that, otherwise after "--webEngineArgs" on the command line (added when the
// command line holds none).
void appendEngineSwitches(EngineSwitches *engine, const std::vector<std::string> &switches);
