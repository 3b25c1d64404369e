// The rendering the helper picks: software by default, and never against a choice the
// environment or the engine's own switches made.
#include "engine/renderingchoice.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct RenderingCase {
    const char *name;
    std::map<std::string, std::string> environment;
    std::vector<const char *> argv; // argv[0] first; argc is its size
    bool softwareSceneGraph;
    std::vector<std::string> appended;
    bool noXcbGlIntegration = false; // follows "--disable-gpu" unless said otherwise
    bool toFlagsVariable = false;
};

class ChooseRendering : public testing::TestWithParam<RenderingCase>
{
};

TEST_P(ChooseRendering, SoftwareUnlessAlreadyChosen)
{
    const RenderingCase &c = GetParam();
    const EnvironmentLookup lookup = [&c](const char *name) -> const char * {
        const auto found = c.environment.find(name);
        return found == c.environment.end() ? nullptr : found->second.c_str();
    };
    std::vector<const char *> argv = c.argv;
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    const RenderingChoice choice = chooseRendering(lookup, argc, argv.data());
    EXPECT_EQ(choice.softwareSceneGraph, c.softwareSceneGraph);
    EXPECT_EQ(choice.appendArguments, c.appended);
    EXPECT_EQ(choice.noXcbGlIntegration, c.noXcbGlIntegration);
    EXPECT_EQ(choice.appendToFlagsVariable, c.toFlagsVariable);
    // None of these cases names a Vulkan driver: the loader's drivers go with the GPU.
    const bool disablesGpu = !c.appended.empty() && c.appended.back() == "--disable-gpu";
    EXPECT_EQ(choice.noVulkanDrivers, disablesGpu);
}

const std::vector<std::string> kMarkerAndDisableGpu{"--webEngineArgs", "--disable-gpu"};
const std::vector<std::string> kDisableGpu{"--disable-gpu"};
const std::vector<std::string> kNothing{};

TEST(ChooseRenderingVulkan, TheLoadersOwnChoiceOfDriversIsKept)
{
    for (const char *name : {"VK_DRIVER_FILES", "VK_ICD_FILENAMES", "VK_ADD_DRIVER_FILES",
                             "VK_LOADER_DRIVERS_SELECT", "VK_LOADER_DRIVERS_DISABLE"}) {
        for (const char *value : {"", "/usr/share/vulkan/icd.d/lvp_icd.x86_64.json"}) {
            SCOPED_TRACE(std::string(name) + "=" + value);
            const EnvironmentLookup lookup = [name, value](const char *asked) -> const char * {
                return std::string(asked) == name ? value : nullptr;
            };
            const char *argv[] = {"p", nullptr};
            const RenderingChoice choice = chooseRendering(lookup, 1, argv);
            // The GPU goes off either way; only an empty variable leaves the choice to us.
            EXPECT_EQ(choice.appendArguments, kMarkerAndDisableGpu);
            EXPECT_EQ(choice.noVulkanDrivers, *value == '\0');
        }
    }
}

const RenderingCase kRenderingCases[] = {
    {"NothingChosen", {}, {"p", "--cmdInFd=3", "--cmdOutFd=4"}, true, kMarkerAndDisableGpu, true},
    {"ArgcZero", {}, {}, true, kMarkerAndDisableGpu, true},
    {"EmptyVariablesChooseNothing",
     {{"QT_QUICK_BACKEND", ""}, {"QMLSCENE_DEVICE", ""}, {"QSG_RHI_BACKEND", ""}},
     {"p"},
     true,
     kMarkerAndDisableGpu,
     true},
    {"OtherEngineArgumentsKept",
     {},
     {"p", "--webEngineArgs", "--lang=de", "--remote-debugging-port=9000"},
     true,
     kDisableGpu,
     true},
    {"GpuSwitchBeforeTheMarkerDoesNotReachTheEngine",
     {},
     {"p", "--enable-gpu-rasterization"},
     true,
     kMarkerAndDisableGpu,
     true},
    {"XcbGlIntegrationNamed",
     {{"QT_XCB_GL_INTEGRATION", "xcb_glx"}},
     {"p"},
     true,
     kMarkerAndDisableGpu,
     false},
    {"XcbGlIntegrationEmpty",
     {{"QT_XCB_GL_INTEGRATION", ""}},
     {"p"},
     true,
     kMarkerAndDisableGpu,
     true},
    // The environment chose the scene graph.
    {"QuickBackendRhi", {{"QT_QUICK_BACKEND", "rhi"}}, {"p"}, false, kNothing},
    {"QuickBackendOpenGl", {{"QT_QUICK_BACKEND", "opengl"}}, {"p"}, false, kNothing},
    {"OlderNameOfQuickBackend", {{"QMLSCENE_DEVICE", "rhi"}}, {"p"}, false, kNothing},
    {"RhiBackend", {{"QSG_RHI_BACKEND", "opengl"}}, {"p"}, false, kNothing},
    {"RhiBackendVulkan", {{"QSG_RHI_BACKEND", "vulkan"}}, {"p"}, false, kNothing},
    {"SoftwareNamedByEnvironment",
     {{"QT_QUICK_BACKEND", "software"}},
     {"p"},
     false,
     kMarkerAndDisableGpu,
     true},
    {"SoftwareWinsOverRhiBackend",
     {{"QT_QUICK_BACKEND", "software"}, {"QSG_RHI_BACKEND", "opengl"}},
     {"p"},
     false,
     kMarkerAndDisableGpu,
     true},
    {"SoftwareByOlderName",
     {{"QMLSCENE_DEVICE", "softwarecontext"}},
     {"p"},
     false,
     kMarkerAndDisableGpu,
     true},
    // The engine's own switches chose.
    {"DisableGpuGiven", {}, {"p", "--webEngineArgs", "--disable-gpu"}, false, kNothing},
    {"UseGl", {}, {"p", "--webEngineArgs", "--use-gl=egl"}, false, kNothing},
    {"UseAngleOneDash", {}, {"p", "--webEngineArgs", "-use-angle=gl"}, false, kNothing},
    {"IgnoreBlocklist",
     {},
     {"p", "--webEngineArgs", "--x", "--ignore-gpu-blocklist"},
     false,
     kNothing},
    {"GpuRasterization",
     {},
     {"p", "--webEngineArgs", "--enable-gpu-rasterization"},
     false,
     kNothing},
    // QTWEBENGINE_CHROMIUM_FLAGS: the engine reads it alone once it is set, so the helper's
    // switch goes there.
    {"FlagsVariableWithoutRenderingSwitch",
     {{"QTWEBENGINE_CHROMIUM_FLAGS", "--lang=de  --single-process"}},
     {"p"},
     true,
     kDisableGpu,
     true,
     true},
    {"FlagsVariableSetButEmpty",
     {{"QTWEBENGINE_CHROMIUM_FLAGS", ""}},
     {"p"},
     true,
     kDisableGpu,
     true,
     true},
    {"FlagsVariableWithGpuSwitch",
     {{"QTWEBENGINE_CHROMIUM_FLAGS", "--lang=de --ignore-gpu-blocklist"}},
     {"p"},
     false,
     kNothing},
    // The engine splits the variable at spaces only: after a tab, a GPU switch is part of the
    // language's value and chooses nothing.
    {"FlagsVariableSplitAtSpacesOnly",
     {{"QTWEBENGINE_CHROMIUM_FLAGS", "--lang=de\t--ignore-gpu-blocklist"}},
     {"p"},
     true,
     kDisableGpu,
     true,
     true},
    {"FlagsVariableHidesCommandLineSwitches",
     {{"QTWEBENGINE_CHROMIUM_FLAGS", "--lang=de"}},
     {"p", "--webEngineArgs", "--use-gl=egl"},
     true,
     kDisableGpu,
     true,
     true},
};

INSTANTIATE_TEST_SUITE_P(Table, ChooseRendering, testing::ValuesIn(kRenderingCases),
                         [](const testing::TestParamInfo<RenderingCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(ArgumentsWith, AppendsAfterTheGivenArgumentsAndEndsInNull)
{
    char program[] = "p";
    char channel[] = "--cmdInFd=3";
    char *argv[] = {program, channel, nullptr};
    std::vector<std::string> appended{"--webEngineArgs", "--disable-gpu"};
    const std::vector<char *> result = argumentsWith(2, argv, appended);
    ASSERT_EQ(result.size(), 5u);
    EXPECT_EQ(result[0], program);
    EXPECT_EQ(result[1], channel);
    EXPECT_STREQ(result[2], "--webEngineArgs");
    EXPECT_STREQ(result[3], "--disable-gpu");
    EXPECT_EQ(result[4], nullptr);
}

} // namespace
