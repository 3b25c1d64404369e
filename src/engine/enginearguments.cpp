#include "engine/enginearguments.h"

#include <cstring>

EngineArguments engineArgumentsRead(const EnvironmentLookup &environment, int argc,
                                    const char *const *argv)
{
    EngineArguments engine;
    const char *flagsVariable = environment("QTWEBENGINE_CHROMIUM_FLAGS");
    engine.fromFlagsVariable = flagsVariable != nullptr;
    if (engine.fromFlagsVariable)
        engine.switches = engineFlagsSplit(flagsVariable);
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr)
            break;
        if (engine.markerGiven && !engine.fromFlagsVariable)
            engine.switches.emplace_back(argv[i]);
        else if (std::strcmp(argv[i], kEngineArgumentsMarker) == 0)
            engine.markerGiven = true;
    }
    return engine;
}

std::vector<std::string> engineFlagsSplit(const std::string &flags)
{
    // Qt WebEngine's own reading of the variable (parseEnvCommandLine, the same in Qt 6.4 and
    // 6.8): whatever splits differently hands the engine other switches than the helper saw.
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : flags) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

std::string engineFlagsJoined(const std::vector<std::string> &switches)
{
    std::string flags;
    for (const std::string &word : switches) {
        if (!flags.empty())
            flags += ' ';
        flags += word.find(' ') == std::string::npos ? word : '"' + word + '"';
    }
    return flags;
}
