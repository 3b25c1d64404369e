// The client's command line.
#pragma once

#include <cstdint>
#include <string>

struct ClientOptions {
    std::string helper;      // --helper; empty: beside the client, then on PATH
    std::string url;         // --url, required
    std::string redirectUri; // --redirect-uri, required
    std::string title = "Sign in";
    std::string userAgent;     // --user-agent; empty: the helper's own user agent
    std::string parentWindow;  // --parent-window; empty: none is sent
    std::string session;       // --session; empty: none is sent
    bool silent = false;       // --silent: "silent" is sent as true
    std::string forget;        // --forget; not empty: forget this session instead of a sign-in
    bool timeoutGiven = false; // --timeout-ms given: sent as "timeout_ms", else left out
    std::uint32_t timeoutMs = 0;
};

enum class CommandLine {
    Run,     // options holds a complete request: a sign-in, or a forget
    Help,    // --help or -h
    Version, // --version
    Invalid, // problem says what is wrong
};

struct ParsedCommandLine {
    CommandLine kind = CommandLine::Invalid;
    ClientOptions options;
    std::string problem;
};

// Options take their value as "--name=value" or as the next argument. The last occurrence of an
// option wins; --help and --version win over everything after them.
ParsedCommandLine parseCommandLine(int argc, const char *const *argv);

// The lines of the usage synopsis, each ending in a newline.
std::string usageSynopsis(const std::string &program);

// The full --help text: the synopsis, the options, the outputs and the exit statuses.
std::string usageText(const std::string &program);
