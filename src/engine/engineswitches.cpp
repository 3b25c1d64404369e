#include "engine/engineswitches.h"

#include "engine/enginearguments.h"

#include <QtGlobal>

#include <algorithm>

namespace {

// The allow-list switches under both names. Chromium 102 (Qt 6.4) reads only the older name;
// Chromium 122 (Qt 6.8) only the newer. The engines of Qt 6.5 to 6.7 get both names, since an
// engine ignores a switch it does not know.
struct AllowListSwitch {
    const char *newer;
    const char *older;
};
const AllowListSwitch kAllowListSwitches[] = {
    {"auth-server-allowlist", "auth-server-whitelist"},
    {"auth-negotiate-delegate-allowlist", "auth-negotiate-delegate-whitelist"},
};

bool readsOlderName(int qtVersion)
{
    return qtVersion < QT_VERSION_CHECK(6, 8, 0);
}

bool readsNewerName(int qtVersion)
{
    return qtVersion >= QT_VERSION_CHECK(6, 5, 0);
}

} // namespace

std::vector<std::string> inEngineSpelling(const std::string &argument, int qtVersion)
{
    for (const AllowListSwitch &names : kAllowListSwitches) {
        for (const char *name : {names.newer, names.older}) {
            const std::string prefix = std::string("--") + name + "=";
            if (argument.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string value = argument.substr(prefix.size());
            std::vector<std::string> handedOn;
            if (readsNewerName(qtVersion))
                handedOn.push_back(std::string("--") + names.newer + "=" + value);
            if (readsOlderName(qtVersion))
                handedOn.push_back(std::string("--") + names.older + "=" + value);
            return handedOn;
        }
    }
    return {argument};
}

EngineSwitches engineSwitches(const EnvironmentLookup &environment, int argc,
                              const char *const *argv, const RenderingChoice &rendering,
                              int qtVersion)
{
    EngineSwitches result;
    const EngineArguments engine = engineArgumentsRead(environment, argc, argv);
    bool engineReadsThis = false;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        const std::string argument = argv[i];
        if (engineReadsThis && !engine.fromFlagsVariable) {
            for (std::string &spelled : inEngineSpelling(argument, qtVersion))
                result.arguments.push_back(std::move(spelled));
        } else {
            result.arguments.push_back(argument);
        }
        engineReadsThis = engineReadsThis || (i > 0 && argument == "--webEngineArgs");
    }
    if (!rendering.appendToFlagsVariable) {
        result.arguments.insert(result.arguments.end(), rendering.appendArguments.begin(),
                                rendering.appendArguments.end());
    }
    if (engine.fromFlagsVariable) {
        std::vector<std::string> switches;
        for (const std::string &word : engine.switches) {
            for (std::string &spelled : inEngineSpelling(word, qtVersion))
                switches.push_back(std::move(spelled));
        }
        if (rendering.appendToFlagsVariable) {
            switches.insert(switches.end(), rendering.appendArguments.begin(),
                            rendering.appendArguments.end());
        }
        result.setFlagsVariable = true;
        result.flagsVariable = engineFlagsJoined(switches);
    }
    return result;
}

void appendEngineSwitches(EngineSwitches *engine, const std::vector<std::string> &switches)
{
    if (switches.empty())
        return;
    if (engine->setFlagsVariable) {
        engine->flagsVariable
            += (engine->flagsVariable.empty() ? "" : " ") + engineFlagsJoined(switches);
        return;
    }
    const auto begin = engine->arguments.begin() + (engine->arguments.empty() ? 0 : 1);
    if (std::find(begin, engine->arguments.end(), "--webEngineArgs") == engine->arguments.end())
        engine->arguments.emplace_back("--webEngineArgs");
    engine->arguments.insert(engine->arguments.end(), switches.begin(), switches.end());
}
