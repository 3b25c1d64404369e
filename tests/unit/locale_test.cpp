// What the helper tells providers of the person's languages, and what it writes to standard
// error when asked for quiet.
#include "engine/acceptlanguage.h"
#include "engine/quietlogging.h"

#include "testenvironment.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::lookupIn;

using Environment = std::map<std::string, std::string>;

struct AcceptLanguageCase {
    const char *name;
    Environment environment;
    std::string header;
};

class AcceptLanguage : public testing::TestWithParam<AcceptLanguageCase>
{
};

TEST_P(AcceptLanguage, AsABrowserBuildsIt)
{
    const AcceptLanguageCase &c = GetParam();
    EXPECT_EQ(acceptLanguageFor(lookupIn(c.environment)), c.header);
}

const AcceptLanguageCase kAcceptLanguageCases[] = {
    {"Lang", {{"LANG", "de_DE.UTF-8"}}, "de-DE,de;q=0.9"},
    {"LanguageListFirst",
     {{"LANGUAGE", "fr_FR:de"}, {"LANG", "en_US.UTF-8"}},
     "fr-FR,fr;q=0.9,de;q=0.8"},
    {"LcAllBeforeLcMessagesBeforeLang",
     {{"LC_ALL", "pt_BR.UTF-8"}, {"LC_MESSAGES", "es_ES"}, {"LANG", "en_US.UTF-8"}},
     "pt-BR,pt;q=0.9"},
    {"LcMessagesBeforeLang", {{"LC_MESSAGES", "es_ES"}, {"LANG", "en_US.UTF-8"}}, "es-ES,es;q=0.9"},
    {"EmptyVariablesSkipped",
     {{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LANG", "nl_NL"}},
     "nl-NL,nl;q=0.9"},
    {"CodesetAndModifierDropped", {{"LANG", "ca_ES.UTF-8@valencia"}}, "ca-ES,ca;q=0.9"},
    {"BareLanguage", {{"LANG", "fi"}}, "fi"},
    {"RegionsOfOneLanguageBeforeIt", {{"LANGUAGE", "de_AT:de_DE"}}, "de-AT,de-DE;q=0.9,de;q=0.8"},
    {"BaseNamedLaterStaysInItsPlace", {{"LANGUAGE", "de_DE:en:de"}}, "de-DE,en;q=0.9,de;q=0.8"},
    {"RepeatsOnce", {{"LANGUAGE", "sv:sv_SE:sv"}}, "sv,sv-SE;q=0.9"},
    {"WeightsStopAtOneTenth",
     {{"LANGUAGE", "a1:ab:ac:ad:ae:af:ag:ah:ai:aj:ak:al"}},
     "ab,ac;q=0.9,ad;q=0.8,ae;q=0.7,af;q=0.6,ag;q=0.5,ah;q=0.4,ai;q=0.3,aj;q=0.2,ak;q=0.1,al;q=0."
     "1"},
    {"CaseNormalised", {{"LANG", "EN_gb.utf8"}}, "en-GB,en;q=0.9"},
    {"CAndPosixAreNoLanguage", {{"LANGUAGE", "C:POSIX"}, {"LANG", "C.UTF-8"}}, "en-US,en;q=0.9"},
    {"NothingSet", {}, "en-US,en;q=0.9"},
    // The header is built from the environment: nothing there may end it or add another.
    {"NoHeaderInjection", {{"LANGUAGE", "de\r\nX-Evil: 1:fr_FR;q=1:it_IT,en:es"}}, "es"},
};

INSTANTIATE_TEST_SUITE_P(Table, AcceptLanguage, testing::ValuesIn(kAcceptLanguageCases),
                         [](const testing::TestParamInfo<AcceptLanguageCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(QuietLogging, OnlyWhenTheEnvironmentAsksForNoMessages)
{
    EXPECT_TRUE(wantsQuietLogging(lookupIn({})));
    EXPECT_TRUE(wantsQuietLogging(lookupIn({{"QT_LOGGING_RULES", ""}})));
    EXPECT_FALSE(wantsQuietLogging(lookupIn({{"QT_LOGGING_RULES", "qt.*=true"}})));
    EXPECT_FALSE(wantsQuietLogging(lookupIn({{"QT_LOGGING_CONF", "/etc/qtlogging.ini"}})));
}

TEST(QuietLogging, EveryMessageOnOneLine)
{
    EXPECT_EQ(oneLogLine("p: ", "could not connect to display"), "p: could not connect to display");
    EXPECT_EQ(oneLogLine("p: ",
                         "  This application failed to start.\n\nAvailable plugins are: "
                         "xcb, offscreen.\n"),
              "p: This application failed to start.; Available plugins are: xcb, offscreen.");
    EXPECT_EQ(oneLogLine("p: ", "a  b\tc\r\nd"), "p: a  b\tc; d");
    EXPECT_EQ(oneLogLine("p: ", "\n \n"), "p: ");
}

TEST(QuietLogging, EngineLogKeptToFatalErrorsWhereTheEngineReadsItsSwitches)
{
    EngineSwitches plain;
    plain.arguments = {"p", "--cmdInFd=3"};
    quietEngineLog(&plain);
    EXPECT_EQ(plain.arguments,
              (std::vector<std::string>{"p", "--cmdInFd=3", "--webEngineArgs", "--log-level=3"}));

    EngineSwitches marked;
    marked.arguments = {"p", "--webEngineArgs", "--disable-gpu"};
    quietEngineLog(&marked);
    EXPECT_EQ(marked.arguments,
              (std::vector<std::string>{"p", "--webEngineArgs", "--disable-gpu", "--log-level=3"}));

    EngineSwitches variable;
    variable.setFlagsVariable = true;
    variable.flagsVariable = "--disable-gpu";
    variable.arguments = {"p", "--webEngineArgs", "--log-level=0"}; // not read by the engine
    quietEngineLog(&variable);
    EXPECT_EQ(variable.flagsVariable, "--disable-gpu --log-level=3");

    // The person's own choice of the engine's logging stands.
    for (const char *own : {"--log-level=0", "--enable-logging=stderr", "--v=1"}) {
        EngineSwitches chosen;
        chosen.arguments = {"p", "--webEngineArgs", own};
        quietEngineLog(&chosen);
        EXPECT_EQ(chosen.arguments, (std::vector<std::string>{"p", "--webEngineArgs", own}));
        EngineSwitches chosenInVariable;
        chosenInVariable.setFlagsVariable = true;
        chosenInVariable.flagsVariable = std::string("--disable-gpu ") + own;
        quietEngineLog(&chosenInVariable);
        EXPECT_EQ(chosenInVariable.flagsVariable, std::string("--disable-gpu ") + own);
    }
}

} // namespace
