// What the helper writes to standard error: nothing when all goes well.
#pragma once

#include "engine/engineswitches.h"
#include "engine/environment.h"

#include <string>

// True unless the person asked for Qt's messages: QT_LOGGING_RULES or QT_LOGGING_CONF set to
// anything. Pure: it reads only `environment`.
bool wantsQuietLogging(const EnvironmentLookup &environment);

// `message` on one line with the given prefix: each run of line breaks and the blanks around it
// becomes "; ", and blanks at either end go.
std::string oneLogLine(const std::string &prefix, const std::string &message);

// Unless the environment asks for Qt's messages: Qt's and the engine's debug and info messages
// are turned off, warnings are dropped too (the last one is kept to explain a fatal error), and
// a critical or fatal message is written as one line. Called before the application object.
void quietQtLogging();

// Unless the environment asks for Qt's messages, the engine's own processes (Qt programs of
// their own, which inherit the environment but not the rules above) get QT_LOGGING_RULES that
// turn their debug, info and warning messages off. Called once the application object exists
// (the helper has read the variable by then) and before the engine starts.
void quietEngineProcesses();

// The engine's own log (Chromium's, written straight to standard error: a certificate it could
// not verify, a failed TLS handshake) kept to fatal errors: "--log-level=3" where the engine
// reads its switches (after "--webEngineArgs", added when missing, or in
// QTWEBENGINE_CHROMIUM_FLAGS when the engine reads that), unless they already set a log level or
// turn logging on. For quiet logging only.
void quietEngineLog(EngineSwitches *engine);
