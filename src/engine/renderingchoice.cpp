#include "engine/renderingchoice.h"

#include "engine/enginearguments.h"

#include <cstring>

namespace {

// Chromium accepts a switch with one or two leading dashes; its name ends at '='.
std::string switchName(const std::string &argument)
{
    if (argument.empty() || argument[0] != '-')
        return std::string();
    const std::size_t start = argument.compare(0, 2, "--") == 0 ? 2 : 1;
    const std::size_t equals = argument.find('=');
    return argument.substr(start, equals == std::string::npos ? equals : equals - start);
}

// Every switch that picks how the engine draws: --disable-gpu, --enable-gpu-rasterization,
// --ignore-gpu-blocklist, --in-process-gpu, --use-gl=..., --use-angle=..., --use-vulkan and
// their kin. Anything else (a language, a proxy, remote debugging) is not a rendering choice.
bool isRenderingSwitch(const std::string &argument)
{
    const std::string name = switchName(argument);
    if (name.empty())
        return false;
    return name.find("gpu") != std::string::npos || name == "use-gl" || name == "use-angle"
        || name == "use-vulkan" || name.compare(0, 14, "disable-vulkan") == 0;
}

// The Vulkan loader's variables that say which drivers it loads; any of them set is a choice.
bool vulkanDriversChosen(const EnvironmentLookup &environment)
{
    for (const char *name : {"VK_DRIVER_FILES", "VK_ICD_FILENAMES", "VK_ADD_DRIVER_FILES",
                             "VK_LOADER_DRIVERS_SELECT", "VK_LOADER_DRIVERS_DISABLE"}) {
        if (isNonEmpty(environment(name)))
            return true;
    }
    return false;
}

} // namespace

RenderingChoice chooseRendering(const EnvironmentLookup &environment, int argc,
                                const char *const *argv)
{
    RenderingChoice choice;

    // Qt reads QT_QUICK_BACKEND first and falls back to QMLSCENE_DEVICE when it is empty.
    const char *quickBackend = environment("QT_QUICK_BACKEND");
    if (!isNonEmpty(quickBackend))
        quickBackend = environment("QMLSCENE_DEVICE");
    const bool quickBackendChosen = isNonEmpty(quickBackend);
    const bool softwareChosen = quickBackendChosen
        && (std::strcmp(quickBackend, "software") == 0
            || std::strcmp(quickBackend, "softwarecontext") == 0);
    // The software backend wins over an RHI backend in Qt; any other choice asks for the GPU.
    // (A request made in code would win over the environment, so none is made then.)
    if (!softwareChosen && (quickBackendChosen || isNonEmpty(environment("QSG_RHI_BACKEND"))))
        return choice;

    const EngineArguments engine = engineArgumentsRead(environment, argc, argv);
    for (const std::string &argument : engine.switches) {
        if (isRenderingSwitch(argument))
            return choice;
    }

    choice.softwareSceneGraph = !softwareChosen;
    choice.appendToFlagsVariable = engine.fromFlagsVariable;
    if (!engine.fromFlagsVariable && !engine.markerGiven)
        choice.appendArguments.emplace_back(kEngineArgumentsMarker);
    choice.appendArguments.emplace_back("--disable-gpu");
    choice.noXcbGlIntegration = !isNonEmpty(environment("QT_XCB_GL_INTEGRATION"));
    choice.noVulkanDrivers = !vulkanDriversChosen(environment);
    return choice;
}

std::vector<char *> argumentsWith(int argc, char **argv, std::vector<std::string> &appended)
{
    std::vector<char *> result;
    result.reserve(static_cast<std::size_t>(argc) + appended.size() + 1);
    for (int i = 0; i < argc; ++i)
        result.push_back(argv[i]);
    for (std::string &argument : appended)
        result.push_back(argument.data());
    result.push_back(nullptr);
    return result;
}
