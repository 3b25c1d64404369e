// The engine's switches as the helper reads them (QTWEBENGINE_CHROMIUM_FLAGS as the engine
// splits it) and hands them on: the Kerberos allow-lists in the name the engine reads, the
// helper's own rendering switch where the engine reads it, and the proxy's port found for a
// prompt.
#include "engine/enginearguments.h"
#include "engine/engineswitches.h"
#include "engine/proxysettings.h"
#include "engine/renderingchoice.h"

#include <QtGlobal>

#include "testenvironment.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::lookupIn;

using Strings = std::vector<std::string>;

const int kQt64 = QT_VERSION_CHECK(6, 4, 2);
const int kQt66 = QT_VERSION_CHECK(6, 6, 0);
const int kQt68 = QT_VERSION_CHECK(6, 8, 2);

struct SpellingCase {
    const char *name;
    const char *argument;
    int qtVersion;
    Strings handedOn;
};

class InEngineSpelling : public testing::TestWithParam<SpellingCase>
{
};

TEST_P(InEngineSpelling, EitherNameReachesTheEngineInItsOwn)
{
    const SpellingCase &c = GetParam();
    EXPECT_EQ(inEngineSpelling(c.argument, c.qtVersion), c.handedOn);
}

const SpellingCase kSpellingCases[] = {
    {"NewerNameToQt64",
     "--auth-server-allowlist=*.corp,localhost",
     kQt64,
     {"--auth-server-whitelist=*.corp,localhost"}},
    {"OlderNameToQt64",
     "--auth-server-whitelist=localhost",
     kQt64,
     {"--auth-server-whitelist=localhost"}},
    {"OlderNameToQt68",
     "--auth-server-whitelist=localhost",
     kQt68,
     {"--auth-server-allowlist=localhost"}},
    {"NewerNameToQt68",
     "--auth-server-allowlist=localhost",
     kQt68,
     {"--auth-server-allowlist=localhost"}},
    {"DelegateToQt64",
     "--auth-negotiate-delegate-allowlist=*.corp",
     kQt64,
     {"--auth-negotiate-delegate-whitelist=*.corp"}},
    {"DelegateToQt68",
     "--auth-negotiate-delegate-whitelist=*.corp",
     kQt68,
     {"--auth-negotiate-delegate-allowlist=*.corp"}},
    {"BothNamesBetween",
     "--auth-server-whitelist=a",
     kQt66,
     {"--auth-server-allowlist=a", "--auth-server-whitelist=a"}},
    {"EmptyValueKept", "--auth-server-allowlist=", kQt64, {"--auth-server-whitelist="}},
    {"OtherSwitchUntouched", "--auth-server-allowlistx=a", kQt64, {"--auth-server-allowlistx=a"}},
    {"NoValueUntouched", "--auth-server-allowlist", kQt64, {"--auth-server-allowlist"}},
};

INSTANTIATE_TEST_SUITE_P(Table, InEngineSpelling, testing::ValuesIn(kSpellingCases),
                         [](const testing::TestParamInfo<SpellingCase> &info) {
                             return std::string(info.param.name);
                         });

EngineSwitches switchesFor(const std::map<std::string, std::string> &environment,
                           std::vector<const char *> argv)
{
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    const EnvironmentLookup lookup = lookupIn(environment);
    const RenderingChoice rendering = chooseRendering(lookup, argc, argv.data());
    return engineSwitches(lookup, argc, argv.data(), rendering, kQt64);
}

TEST(EngineSwitches, CommandLineSwitchesRespelledAfterTheMarkerOnly)
{
    const EngineSwitches result = switchesFor(
        {}, {"p", "--auth-server-allowlist=x", "--webEngineArgs", "--auth-server-allowlist=y"});
    EXPECT_EQ(result.arguments,
              (Strings{"p", "--auth-server-allowlist=x", "--webEngineArgs",
                       "--auth-server-whitelist=y", "--disable-gpu"}));
    EXPECT_FALSE(result.setFlagsVariable);
}

TEST(EngineSwitches, FlagsVariableGetsTheHelpersSwitchAndTheEnginesSpelling)
{
    // The engine reads the variable alone: without "--disable-gpu" there, setting it for a
    // Kerberos allow-list would bring the GPU path (and Mesa in the browser process) back.
    const EngineSwitches result
        = switchesFor({{"QTWEBENGINE_CHROMIUM_FLAGS", " --auth-server-allowlist=localhost  "}},
                      {"p", "--cmdInFd=3", "--webEngineArgs", "--lang=de"});
    EXPECT_EQ(result.arguments, (Strings{"p", "--cmdInFd=3", "--webEngineArgs", "--lang=de"}));
    ASSERT_TRUE(result.setFlagsVariable);
    EXPECT_EQ(result.flagsVariable, "--auth-server-whitelist=localhost --disable-gpu");
}

TEST(EngineSwitches, FlagsVariableWithARenderingChoiceKeepsIt)
{
    const EngineSwitches result
        = switchesFor({{"QTWEBENGINE_CHROMIUM_FLAGS", "--use-gl=egl"}}, {"p"});
    EXPECT_EQ(result.arguments, (Strings{"p"}));
    EXPECT_EQ(result.flagsVariable, "--use-gl=egl");
}

struct SplitCase {
    const char *name;
    const char *flags;
    Strings words;
};

class EngineFlagsSplit : public testing::TestWithParam<SplitCase>
{
};

// As the engine reads QTWEBENGINE_CHROMIUM_FLAGS, and back: what the helper writes there must
// reach the engine as the same switches.
TEST_P(EngineFlagsSplit, ReadsAsTheEngineAndJoinsBack)
{
    const SplitCase &c = GetParam();
    EXPECT_EQ(engineFlagsSplit(c.flags), c.words);
    EXPECT_EQ(engineFlagsSplit(engineFlagsJoined(c.words)), c.words);
}

const SplitCase kSplitCases[] = {
    {"RunsOfSpaces", "  --a  --b ", {"--a", "--b"}},
    {"Empty", "", {}},
    {"TabBelongsToItsWord", "--lang=de\t--single-process", {"--lang=de\t--single-process"}},
    {"QuotesGroupAValue", "--user-agent=\"A B\" --x", {"--user-agent=A B", "--x"}},
    {"QuotedWholeSwitch", "\"--user-agent=A B\"", {"--user-agent=A B"}},
};

INSTANTIATE_TEST_SUITE_P(Table, EngineFlagsSplit, testing::ValuesIn(kSplitCases),
                         [](const testing::TestParamInfo<SplitCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(EngineSwitches, FlagsVariableValueWithASpaceStaysWhole)
{
    const EngineSwitches result
        = switchesFor({{"QTWEBENGINE_CHROMIUM_FLAGS", "--user-agent=\"A B\""}}, {"p"});
    EXPECT_EQ(engineFlagsSplit(result.flagsVariable),
              (Strings{"--user-agent=A B", "--disable-gpu"}));
}

struct ProxyCase {
    const char *name;
    std::map<std::string, std::string> environment;
    std::vector<const char *> argv;
    const char *host;
    const char *authority;
};

class ProxyAuthority : public testing::TestWithParam<ProxyCase>
{
};

TEST_P(ProxyAuthority, PortFromTheSettingsThatNameTheProxy)
{
    const ProxyCase &c = GetParam();
    std::vector<const char *> argv = c.argv;
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    const EnvironmentLookup lookup = lookupIn(c.environment);
    const ProxySettings settings
        = proxySettingsRead(engineArgumentsRead(lookup, argc, argv.data()), lookup);
    EXPECT_EQ(proxyAuthority(settings, c.host), c.authority);
}

const ProxyCase kProxyCases[] = {
    {"EnvironmentUrl",
     {{"http_proxy", "http://proxy.corp:3128/"}},
     {"p"},
     "proxy.corp",
     "proxy.corp:3128"},
    {"EnvironmentWithUserAndNoScheme",
     {{"HTTPS_PROXY", "bob:pw@Proxy.Corp:8080"}},
     {"p"},
     "proxy.corp",
     "proxy.corp:8080"},
    {"EnvironmentNamesAnotherHost",
     {{"http_proxy", "http://other:3128"}},
     {"p"},
     "proxy.corp",
     "proxy.corp"},
    {"NoPortGiven", {{"all_proxy", "http://proxy.corp"}}, {"p"}, "proxy.corp", "proxy.corp"},
    {"SwitchListPerScheme",
     {},
     {"p", "--webEngineArgs", "--proxy-server=https=a:1;http=proxy.corp:81"},
     "proxy.corp",
     "proxy.corp:81"},
    {"SwitchBeforeTheEnvironment",
     {{"http_proxy", "http://proxy.corp:1"}},
     {"p", "--webEngineArgs", "--proxy-server=http://proxy.corp:2"},
     "proxy.corp",
     "proxy.corp:2"},
    {"SwitchOutsideTheEnginesArguments",
     {},
     {"p", "--proxy-server=proxy.corp:2"},
     "proxy.corp",
     "proxy.corp"},
    {"Ipv6", {{"http_proxy", "http://[::1]:3128"}}, {"p"}, "::1", "::1:3128"},
    {"SwitchInTheFlagsVariable",
     {{"QTWEBENGINE_CHROMIUM_FLAGS", "--lang=de --proxy-server=proxy.corp:3"}},
     {"p", "--webEngineArgs", "--proxy-server=proxy.corp:2"},
     "proxy.corp",
     "proxy.corp:3"},
};

TEST(ProxySettings, WhatTheEngineIsToldAboutProxies)
{
    const std::map<std::string, std::string> environment
        = {{"https_proxy", "http://p:1"}, {"ALL_PROXY", "socks5://q:2"}, {"no_proxy", "x"}};
    const EngineArguments engine
        = {{"--proxy-pac-url=http://wpad/p.pac", "--proxy-server=a:1", "--proxy-server=b:2"}};
    const ProxySettings settings = proxySettingsRead(engine, lookupIn(environment));
    EXPECT_EQ(settings.proxyServers, (Strings{"a:1", "b:2"}));
    EXPECT_EQ(settings.pacUrl, "http://wpad/p.pac");
    using Variables = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(settings.environmentProxies,
              (Variables{{"https_proxy", "http://p:1"}, {"ALL_PROXY", "socks5://q:2"}}));
}

INSTANTIATE_TEST_SUITE_P(Table, ProxyAuthority, testing::ValuesIn(kProxyCases),
                         [](const testing::TestParamInfo<ProxyCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
