#include "clientoptions.h"

#include <utility>

namespace {

bool parseMilliseconds(const std::string &text, std::uint32_t &out)
{
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xffffffffULL)
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

// The field an option with a value fills, or nullptr for "--timeout-ms" (parsed apart) and for
// names that are not ours.
std::string *stringField(ClientOptions &options, const std::string &name)
{
    if (name == "--helper")
        return &options.helper;
    if (name == "--url")
        return &options.url;
    if (name == "--redirect-uri")
        return &options.redirectUri;
    if (name == "--title")
        return &options.title;
    if (name == "--user-agent")
        return &options.userAgent;
    if (name == "--parent-window")
        return &options.parentWindow;
    if (name == "--session")
        return &options.session;
    if (name == "--forget")
        return &options.forget;
    return nullptr;
}

ParsedCommandLine invalid(std::string problem)
{
    ParsedCommandLine parsed;
    parsed.kind = CommandLine::Invalid;
    parsed.problem = std::move(problem);
    return parsed;
}

} // namespace

ParsedCommandLine parseCommandLine(int argc, const char *const *argv)
{
    ParsedCommandLine parsed;
    ClientOptions &options = parsed.options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] != nullptr ? argv[i] : "";
        if (argument == "--help" || argument == "-h") {
            parsed.kind = CommandLine::Help;
            return parsed;
        }
        if (argument == "--version") {
            parsed.kind = CommandLine::Version;
            return parsed;
        }
        if (argument == "--silent") {
            options.silent = true;
            continue;
        }
        if (argument.rfind("--", 0) != 0 || argument.size() == 2)
            return invalid("unexpected argument '" + argument + "'");

        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (name != "--timeout-ms" && stringField(options, name) == nullptr)
            return invalid("unknown option '" + name + "'");
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            value = argv[++i];
        } else {
            return invalid("option '" + name + "' needs a value");
        }

        if (name == "--timeout-ms") {
            if (!parseMilliseconds(value, options.timeoutMs))
                return invalid("--timeout-ms takes a whole number of milliseconds from 0 to "
                               "4294967295, not '"
                               + value + "'");
            options.timeoutGiven = true;
        } else {
            *stringField(options, name) = value;
        }
    }
    if (!options.forget.empty()) {
        if (!options.url.empty() || !options.redirectUri.empty() || options.silent)
            return invalid("--forget runs alone, without a sign-in's options");
        parsed.kind = CommandLine::Run;
        return parsed;
    }
    if (options.url.empty())
        return invalid("--url is required");
    if (options.redirectUri.empty())
        return invalid("--redirect-uri is required");
    parsed.kind = CommandLine::Run;
    return parsed;
}

std::string usageSynopsis(const std::string &program)
{
    return "usage: " + program
        + " --url=URL --redirect-uri=URI [--title=TEXT]\n"
          "       [--user-agent=TEXT] [--timeout-ms=N] [--parent-window=ID]\n"
          "       [--session=NAME] [--silent] [--helper=PATH]\n"
          "       "
        + program + " --forget=NAME [--helper=PATH]\n";
}

std::string usageText(const std::string &program)
{
    return usageSynopsis(program)
        + "\n"
          "Runs one interactive sign-in through the corvane-tavisk helper: starts it on two\n"
          "channels, sends hello and one navigate request, then exit.\n"
          "\n"
          "  --url=URL           page the sign-in window opens first\n"
          "  --redirect-uri=URI  prefix of the URL that ends the sign-in\n"
          "  --title=TEXT        window title (default \"Sign in\")\n"
          "  --user-agent=TEXT   HTTP user agent for this sign-in (default: the engine's)\n"
          "  --timeout-ms=N      time limit in milliseconds; 0 or absent: the helper's\n"
          "                      default, 180000\n"
          "  --parent-window=ID  the window the sign-in window belongs to: x11:<hex id>\n"
          "                      or wayland:<xdg-foreign handle>\n"
          "  --session=NAME      sign in within the kept session NAME: the provider's\n"
          "                      remembered sign-in is kept on disk for the next run\n"
          "  --silent            show nothing; if a person would be needed, end with\n"
          "                      interaction_required (exit status 7)\n"
          "  --forget=NAME       delete the kept session NAME instead of signing in\n"
          "  --helper=PATH       helper to start (default: corvane-tavisk beside this\n"
          "                      program, else the first one on PATH)\n"
          "  -h, --help          show this text\n"
          "  --version           show the version\n"
          "\n"
          "Standard output gets only the redirect URL, after a successful sign-in. Standard\n"
          "error gets each request line sent (\"> \") and each reply line received (\"< \"),\n"
          "the helper's own output, and any error.\n"
          "\n"
          "Exit status: 0 signed in; 2 the sign-in failed (the error reply's message is\n"
          "printed); 3 the helper could not be started, ended early or gave no usable\n"
          "reply; 4, 5, 6 the sign-in page could not be loaded because of its certificate\n"
          "(certificate_error), the proxy (proxy_error) or the network (network_error); 7 a\n"
          "silent sign-in needed a person (interaction_required); 64 bad options. --forget\n"
          "exits 0 once the session is gone, 2 when the helper refused.\n";
}
