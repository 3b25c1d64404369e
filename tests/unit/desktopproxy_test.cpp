// The desktop's proxy settings as the engine's switches: which desktop's settings apply, what
// GNOME's and KDE's settings say, where KDE keeps them, and the command line's precedence.
#include "engine/desktopproxy.h"

#include "testenvironment.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::lookupIn;

using Strings = std::vector<std::string>;
using Variables = std::map<std::string, std::string>;

struct DesktopCase {
    const char *name;
    Variables environment;
    ProxyDesktop desktop;
};

using WhichDesktop = testing::TestWithParam<DesktopCase>;

TEST_P(WhichDesktop, IsTheOneBrowsersFollow)
{
    EXPECT_EQ(proxyDesktop(lookupIn(GetParam().environment)), GetParam().desktop);
}

const DesktopCase kDesktopCases[] = {
    {"Nothing", {}, ProxyDesktop::Other},
    {"Gnome", {{"XDG_CURRENT_DESKTOP", "GNOME"}}, ProxyDesktop::Gnome},
    {"UbuntuGnome", {{"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}}, ProxyDesktop::Gnome},
    {"Cinnamon", {{"XDG_CURRENT_DESKTOP", "X-Cinnamon"}}, ProxyDesktop::Gnome},
    {"Plasma6", {{"XDG_CURRENT_DESKTOP", "KDE"}, {"KDE_SESSION_VERSION", "6"}}, ProxyDesktop::Kde},
    // The first entry browsers know decides; XFCE's browsers follow the environment.
    {"XfceBeforeGnome", {{"XDG_CURRENT_DESKTOP", "XFCE:GNOME"}}, ProxyDesktop::Other},
    {"SwayFallsBackToSession",
     {{"XDG_CURRENT_DESKTOP", "sway"}, {"DESKTOP_SESSION", "gnome"}},
     ProxyDesktop::Gnome},
    {"KdeSession", {{"DESKTOP_SESSION", "kde-plasma"}}, ProxyDesktop::Kde},
    {"OldGnomeVariable", {{"GNOME_DESKTOP_SESSION_ID", "this-is-deprecated"}}, ProxyDesktop::Gnome},
    {"OldKdeVariable", {{"KDE_FULL_SESSION", "true"}}, ProxyDesktop::Kde},
};

INSTANTIATE_TEST_SUITE_P(Desktops, WhichDesktop, testing::ValuesIn(kDesktopCases),
                         [](const auto &info) { return std::string(info.param.name); });

GnomeProxyValues gnome(const char *mode)
{
    GnomeProxyValues values;
    values.mode = mode;
    return values;
}

struct GnomeCase {
    const char *name;
    GnomeProxyValues values;
    Strings switches;
};

using GnomeSettings = testing::TestWithParam<GnomeCase>;

TEST_P(GnomeSettings, BecomeTheEngineSwitches)
{
    EXPECT_EQ(gnomeProxySwitches(GetParam().values), GetParam().switches);
}

GnomeProxyValues gnomeManual()
{
    GnomeProxyValues values = gnome("manual");
    values.http = {"proxy.corp", 3128};
    values.https = {"tls-proxy.corp", 3129};
    values.ignoreHosts = {"localhost", "127.0.0.0/8", "::1", "*.corp.example"};
    return values;
}

GnomeProxyValues gnomeWith(GnomeProxyValues values, void (*change)(GnomeProxyValues &))
{
    change(values);
    return values;
}

const GnomeCase kGnomeCases[] = {
    {"NoneIsNoProxyWhateverTheEnvironmentSays", gnome("none"), {"--no-proxy-server"}},
    {"Manual",
     gnomeManual(),
     {"--proxy-server=http=proxy.corp:3128;https=tls-proxy.corp:3129",
      "--proxy-bypass-list=localhost,127.0.0.0/8,::1,*.corp.example"}},
    {"ManualHttpsOnlyLeavesHttpDirect",
     gnomeWith(gnome("manual"),
               [](GnomeProxyValues &v) {
                   v.https = {"10.0.0.1", 8080};
               }),
     {"--proxy-server=https=10.0.0.1:8080"}},
    {"PortZeroIsTheSchemesOwn",
     gnomeWith(gnome("manual"),
               [](GnomeProxyValues &v) {
                   v.http = {"proxy.corp", 0};
               }),
     {"--proxy-server=http=proxy.corp"}},
    {"SocksAloneCarriesEverything",
     gnomeWith(gnome("manual"),
               [](GnomeProxyValues &v) {
                   v.socks = {"socks.corp", 1080};
               }),
     {"--proxy-server=socks5://socks.corp:1080"}},
    {"SocksBesideHttpIsTheFallback",
     gnomeWith(gnomeManual(),
               [](GnomeProxyValues &v) {
                   v.socks = {"socks.corp", 1080};
                   v.ignoreHosts.clear();
               }),
     {"--proxy-server=http=proxy.corp:3128;https=tls-proxy.corp:3129;socks=socks5://"
      "socks.corp:1080"}},
    // Manual with nothing named: browsers fall back to the environment.
    {"ManualWithNoHostSaysNothing",
     gnomeWith(gnome("manual"),
               [](GnomeProxyValues &v) {
                   v.http = {"  ", 3128};
               }),
     {}},
    {"AutomaticWithPacAddress",
     gnomeWith(gnome("auto"),
               [](GnomeProxyValues &v) { v.autoconfigUrl = "http://wpad.corp/proxy.pac"; }),
     {"--proxy-pac-url=http://wpad.corp/proxy.pac"}},
    {"AutomaticWithPacFile",
     gnomeWith(gnome("auto"), [](GnomeProxyValues &v) { v.autoconfigUrl = "/etc/proxy.pac"; }),
     {"--proxy-pac-url=file:///etc/proxy.pac"}},
    {"AutomaticWithoutAddressIsWpad", gnome("auto"), {"--proxy-auto-detect"}},
    {"UnknownModeSaysNothing", gnome("bogus"), {}},
};

INSTANTIATE_TEST_SUITE_P(Gnome, GnomeSettings, testing::ValuesIn(kGnomeCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct KdeCase {
    const char *name;
    std::string kioslaverc;
    Strings switches;
};

using KdeSettings = testing::TestWithParam<KdeCase>;

TEST_P(KdeSettings, BecomeTheEngineSwitches)
{
    const Variables environment{{"http_proxy", "http://env-proxy:8000"},
                                {"no_proxy", "intranet,10.0.0.0/8"}};
    EXPECT_EQ(kdeProxySwitches(GetParam().kioslaverc, lookupIn(environment)), GetParam().switches);
}

const KdeCase kKdeCases[] = {
    {"NoFile", "", {}},
    {"NoneIsNoProxy", "[Proxy Settings]\nProxyType=0\n", {"--no-proxy-server"}},
    {"ManualAsKdeWritesIt",
     "[General]\nProxyType=2\n\n[Proxy Settings]\nProxyType=1\n"
     "httpProxy=http://proxy.corp 3128\nhttpsProxy=http://proxy.corp 3129\n"
     "socksProxy=\nNoProxyFor=localhost,127.0.0.1,.corp.example,intranet\n",
     {"--proxy-server=http=http://proxy.corp:3128;https=http://proxy.corp:3129",
      "--proxy-bypass-list=*localhost,127.0.0.1,.corp.example,*intranet"}},
    {"ManualOlderColonForm",
     "[Proxy Settings]\nProxyType=1\nhttpsProxy=proxy.corp:3129\n",
     {"--proxy-server=https=proxy.corp:3129"}},
    {"SocksSchemeIsSocks5",
     "[Proxy Settings]\nProxyType=1\nsocksProxy=socks://socks.corp 1080\n",
     {"--proxy-server=socks5://socks.corp:1080"}},
    {"KdesNoneMarkerNamesNoProxy", "[Proxy Settings]\nProxyType=1\nhttpProxy=//: \n", {}},
    {"Pac",
     "[Proxy Settings]\nProxyType=2\nProxy Config Script=http://wpad.corp/proxy.pac\n",
     {"--proxy-pac-url=http://wpad.corp/proxy.pac"}},
    {"PacWithoutAddressIsWpad", "[Proxy Settings]\nProxyType=2\n", {"--proxy-auto-detect"}},
    {"Wpad", "[Proxy Settings]\nProxyType=3\n", {"--proxy-auto-detect"}},
    {"FromTheEnvironmentsVariables",
     "[Proxy Settings]\nProxyType=4\nhttpProxy=http_proxy\nhttpsProxy=https_proxy\n"
     "NoProxyFor=no_proxy\n",
     {"--proxy-server=http=http://env-proxy:8000", "--proxy-bypass-list=*intranet,10.0.0.0/8"}},
    {"ReversedExceptionsHaveNoSwitch",
     "[Proxy Settings]\nProxyType=1\nhttpProxy=http://proxy.corp 3128\n"
     "NoProxyFor=.corp.example\nReversedException=true\n",
     {}},
    // The person's file comes after the system's: its values win, key by key.
    {"LaterFileWins",
     "[Proxy Settings]\nProxyType=1\nhttpsProxy=http://system.corp 1\n\n"
     "[Proxy Settings]\nProxyType=2\nProxy Config Script[$e]=http://$HOST/p.pac\n",
     {"--proxy-pac-url=http://$HOST/p.pac"}},
    {"OtherGroupsIgnored", "[Other]\nProxyType=1\nhttpProxy=http://x 1\n", {}},
};

INSTANTIATE_TEST_SUITE_P(Kde, KdeSettings, testing::ValuesIn(kKdeCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(KioslavercPaths, SystemFoldersFirstThenThePersons)
{
    const Variables set{{"XDG_CONFIG_DIRS", "/etc/xdg/important:/etc/xdg"},
                        {"XDG_CONFIG_HOME", "/home/p/cfg"},
                        {"HOME", "/home/p"}};
    EXPECT_EQ(kioslavercPaths(lookupIn(set)),
              (Strings{"/etc/xdg/kioslaverc", "/etc/xdg/important/kioslaverc",
                       "/home/p/cfg/kioslaverc"}));
    const Variables unset{{"HOME", "/home/p"}};
    EXPECT_EQ(kioslavercPaths(lookupIn(unset)),
              (Strings{"/etc/xdg/kioslaverc", "/home/p/.config/kioslaverc"}));
}

TEST(ProxyChosenBySwitches, AnyOfTheEnginesProxySwitches)
{
    for (const char *chosen : {"--proxy-server=http://p:1", "--proxy-pac-url=http://p/x.pac",
                               "--no-proxy-server", "--proxy-auto-detect"}) {
        EXPECT_TRUE(proxyChosenBySwitches({"--disable-gpu", chosen})) << chosen;
    }
    // A bypass list alone, or a look-alike, chooses nothing.
    EXPECT_FALSE(proxyChosenBySwitches({"--proxy-bypass-list=a", "--proxy-server-x=1"}));
}

} // namespace
