// Picking the two channel arguments out of the command line, and the usage line.
#include "app/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ArgumentsCase {
    const char *name;
    std::vector<const char *> argv; // argv[0] first; argc is its size
    const char *in;
    const char *out;
};

class ScanChannelArguments : public testing::TestWithParam<ArgumentsCase>
{
};

TEST_P(ScanChannelArguments, FindsTheWholeArgumentsByTheirPrefix)
{
    const ArgumentsCase &c = GetParam();
    std::vector<const char *> argv = c.argv;
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    const ChannelArguments found = scanChannelArguments(argc, argv.data());
    EXPECT_EQ(found.in, c.in);
    EXPECT_EQ(found.out, c.out);
}

const ArgumentsCase kArgumentsCases[] = {
    {"NoArguments", {"corvane-tavisk"}, "", ""},
    {"ArgcZero", {}, "", ""},
    {"Both", {"p", "--cmdInFd=3", "--cmdOutFd=4"}, "--cmdInFd=3", "--cmdOutFd=4"},
    {"OutBeforeIn", {"p", "--cmdOutFd=4", "--cmdInFd=3"}, "--cmdInFd=3", "--cmdOutFd=4"},
    {"OnlyIn", {"p", "--cmdInFd=3"}, "--cmdInFd=3", ""},
    {"OnlyOut", {"p", "--cmdOutFd=4"}, "", "--cmdOutFd=4"},
    {"LastOccurrenceWins",
     {"p", "--cmdInFd=3", "--cmdOutFd=4", "--cmdInFd=5", "--cmdOutFd=6"},
     "--cmdInFd=5",
     "--cmdOutFd=6"},
    {"PrefixAloneCountsAsFound", {"p", "--cmdInFd=", "--cmdOutFd="}, "--cmdInFd=", "--cmdOutFd="},
    {"LaterPrefixAloneReplaces", {"p", "--cmdInFd=3", "--cmdInFd="}, "--cmdInFd=", ""},
    {"PrefixNotAtPositionZero", {"p", "x--cmdInFd=3", " --cmdOutFd=4"}, "", ""},
    {"OtherLetterCase", {"p", "--cmdinfd=3", "--CMDOUTFD=4", "--CmdInFd=5"}, "", ""},
    {"NoEqualsSign", {"p", "--cmdInFd", "3", "--cmdOutFd", "4"}, "", ""},
    {"SingleDash", {"p", "-cmdInFd=3"}, "", ""},
    {"ArgumentZeroIsNotScanned", {"--cmdInFd=3", "--cmdOutFd=4"}, "", "--cmdOutFd=4"},
    {"OtherArgumentsIgnored",
     {"p", "-platform", "offscreen", "--cmdInFd=3", "--no-sandbox", "--cmdOutFd=4", "x"},
     "--cmdInFd=3",
     "--cmdOutFd=4"},
    {"TextAfterThePrefixKeptWhole",
     {"p", "--cmdInFd=3 4", "--cmdOutFd=--cmdInFd=9"},
     "--cmdInFd=3 4",
     "--cmdOutFd=--cmdInFd=9"},
};

INSTANTIATE_TEST_SUITE_P(Table, ScanChannelArguments, testing::ValuesIn(kArgumentsCases),
                         [](const testing::TestParamInfo<ArgumentsCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(UsageLine, NamesTheProgramFromArgumentZero)
{
    const char *argv[] = {"/usr/libexec/helper", "--cmdInFd=3", nullptr};
    EXPECT_EQ(usageLine(2, argv),
              "usage: /usr/libexec/helper --cmdInFd=<handle> --cmdOutFd=<handle>");
}

TEST(UsageLine, ArgcZeroNamesTheProgramCorvaneTavisk)
{
    const char *argv[] = {nullptr};
    EXPECT_EQ(usageLine(0, argv), "usage: corvane-tavisk --cmdInFd=<handle> --cmdOutFd=<handle>");
}

} // namespace
