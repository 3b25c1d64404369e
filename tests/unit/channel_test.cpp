// The command channel: cutting the byte stream into lines, reading the envelope, the exact bytes
// of the replies, and whole sessions of the command loop compared byte for byte.
#include "channel/commandloop.h"
#include "channel/envelope.h"
#include "channel/framing.h"
#include "channel/replies.h"
#include "signin/helperstate.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <csignal>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using testsupport::FakeGui;
using testsupport::MemoryFile;
using testsupport::Pipe;
using testsupport::runSession;

namespace {

std::vector<std::string> allLines(LineFramer &framer)
{
    std::vector<std::string> lines;
    std::string line;
    while (framer.nextLine(line))
        lines.push_back(line);
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Framing

TEST(LineFramer, TwoLinesInOneAppend)
{
    LineFramer framer;
    framer.append("{\"a\":1}\n{\"b\":2}\n", 16);
    EXPECT_EQ(allLines(framer), (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}"}));
}

TEST(LineFramer, ALineSplitOverSeveralAppends)
{
    LineFramer framer;
    std::string line;
    for (const char *piece : {"{\"me", "thod\":", "\"hello\"}"}) {
        framer.append(piece, std::char_traits<char>::length(piece));
        EXPECT_FALSE(framer.nextLine(line)) << "a line was cut before its newline";
    }
    framer.append("\nnext", 5);
    EXPECT_EQ(allLines(framer), (std::vector<std::string>{"{\"method\":\"hello\"}"}));
    framer.append("\n", 1);
    EXPECT_EQ(allLines(framer), (std::vector<std::string>{"next"}));
}

TEST(LineFramer, KeepsTheCarriageReturnAndEmptyLines)
{
    LineFramer framer;
    framer.append("a\r\n\n\r\nb\n", 8);
    EXPECT_EQ(allLines(framer), (std::vector<std::string>{"a\r", "", "\r", "b"}));
}

TEST(LineFramer, NeverHandsOutBytesAfterTheLastNewline)
{
    LineFramer framer;
    framer.append("one\ntail", 8);
    EXPECT_EQ(allLines(framer), (std::vector<std::string>{"one"}));
    framer.append(" more tail", 10);
    EXPECT_EQ(allLines(framer), std::vector<std::string>{});
}

TEST(LineFramer, FindsA64MebibyteLineArrivingIn4096ByteReads)
{
    // Each read must be searched once. Searching the whole pending line again on every read
    // turns this fraction of a second into about a minute, which the test's time limit fails.
    constexpr std::size_t kLineLength = std::size_t{64} << 20;
    constexpr std::size_t kRead = 4096;
    std::string chunk(kRead, 'x');
    LineFramer framer;
    std::string line;
    for (std::size_t done = 0; done < kLineLength; done += kRead) {
        chunk[0] = done == 0 ? '{' : 'x';
        framer.append(chunk.data(), chunk.size());
        ASSERT_FALSE(framer.nextLine(line));
    }
    framer.append("}\n{}\n", 5);
    ASSERT_TRUE(framer.nextLine(line));
    EXPECT_EQ(line.size(), kLineLength + 1);
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
    ASSERT_TRUE(framer.nextLine(line));
    EXPECT_EQ(line, "{}");
    EXPECT_FALSE(framer.nextLine(line));
}

// ---------------------------------------------------------------------------------------------
// Envelope

struct IdCase {
    const char *name;
    const char *line;
    std::int64_t id;
};

class EnvelopeId : public testing::TestWithParam<IdCase>
{
};

TEST_P(EnvelopeId, IsTheNumberTruncatedTowardZero)
{
    RequestEnvelope envelope;
    ASSERT_TRUE(parseRequest(GetParam().line, envelope));
    EXPECT_EQ(envelope.id, GetParam().id);
}

const IdCase kIdCases[] = {
    {"Integer", R"({"id":7})", 7},
    {"PositiveFraction", R"({"id":42.9})", 42},
    {"NegativeFraction", R"({"id":-7.5})", -7},
    {"Exponent", R"({"id":1.5e2})", 150},
    {"String", R"({"id":"7"})", 0},
    {"Null", R"({"id":null})", 0},
    {"Boolean", R"({"id":true})", 0},
    {"Object", R"({"id":{"n":1}})", 0},
    {"Absent", R"({"method":"hello"})", 0},
    {"Huge", R"({"id":1e300})", 0},
    {"HugeNegative", R"({"id":-1e300})", 0},
    {"TwoTo63", R"({"id":9223372036854775808})", 0},
    {"Int64Max", R"({"id":9223372036854775807})", std::numeric_limits<std::int64_t>::max()},
    {"Int64Min", R"({"id":-9223372036854775808})", std::numeric_limits<std::int64_t>::min()},
};

INSTANTIATE_TEST_SUITE_P(Table, EnvelopeId, testing::ValuesIn(kIdCases),
                         [](const testing::TestParamInfo<IdCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(Envelope, MethodIsReadOnlyFromAString)
{
    struct Case {
        const char *line;
        const char *method;
    } const cases[] = {
        {R"({"method":"hello"})", "hello"},
        {R"({"method":"h\u00e9llo"})", "h\xc3\xa9llo"},
        {R"({"method":7})", ""},
        {R"({"method":null})", ""},
        {R"({"method":["hello"]})", ""},
        {R"({"method":{"name":"hello"}})", ""},
        {R"({"id":1})", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        RequestEnvelope envelope;
        ASSERT_TRUE(parseRequest(c.line, envelope));
        EXPECT_EQ(envelope.method, c.method);
    }
}

TEST(Envelope, ParamsAreReadOnlyFromAnObject)
{
    struct Case {
        const char *line;
        int memberCount;
    } const cases[] = {
        {R"({"params":{"url":"x","title":"y"}})", 2},
        {R"({"params":[1,2]})", 0},
        {R"({"params":"url"})", 0},
        {R"({"params":null})", 0},
        {R"({"params":3})", 0},
        {R"({"method":"navigate"})", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        RequestEnvelope envelope;
        ASSERT_TRUE(parseRequest(c.line, envelope));
        EXPECT_EQ(envelope.params.size(), c.memberCount);
    }
}

TEST(Envelope, OnlyAJsonObjectIsARequest)
{
    for (const char *line : {"", "not json", "[1,2]", "\"hello\"", "42", "true", "null", "{",
                             R"({"method":"hello"} x)", R"({"method":"hello"}{})"}) {
        SCOPED_TRACE(line);
        RequestEnvelope envelope;
        EXPECT_FALSE(parseRequest(line, envelope));
    }
    RequestEnvelope envelope;
    EXPECT_TRUE(parseRequest(" {\"method\":\"hello\"}\r", envelope)) << "surrounding whitespace";
    EXPECT_EQ(envelope.method, "hello");
}

TEST(Envelope, StringMemberIsEmptyForEveryOtherType)
{
    const QJsonObject object
        = QJsonDocument::fromJson(R"({"s":"text","u":"\u00fc","e":"","n":1,"z":null,"b":false,
                                    "a":["x"],"o":{"x":"y"}})")
              .object();
    ASSERT_FALSE(object.isEmpty());
    struct Case {
        const char *key;
        const char *value;
    } const cases[] = {
        {"s", "text"}, {"u", "\xc3\xbc"}, {"e", ""}, {"n", ""},       {"z", ""},
        {"b", ""},     {"a", ""},         {"o", ""}, {"missing", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(stringMember(object, QString::fromUtf8(c.key)), c.value);
    }
}

// ---------------------------------------------------------------------------------------------
// Replies, byte for byte

std::string written(const std::function<void()> &reply)
{
    MemoryFile out;
    testsupport::ChannelScope channels(-1, out.fd);
    reply();
    return out.contents();
}

TEST(Replies, ErrorReplyBytes)
{
    EXPECT_EQ(written([] { replyError(7, "timeout"); }),
              "{\"error\":{\"code\":1,\"message\":\"timeout\"},\"id\":7,\"jsonrpc\":\"2.0\"}\n");
}

TEST(Replies, ResultReplyBytes)
{
    QJsonObject result;
    result.insert(QStringLiteral("status"), QStringLiteral("ok"));
    result.insert(QStringLiteral("redirect_url"), QStringLiteral("app://auth/done?code=\"1\""));
    EXPECT_EQ(
        written([&result] { replyResult(-3, result); }),
        R"({"id":-3,"jsonrpc":"2.0","result":{"redirect_url":"app://auth/done?code=\"1\"","status":"ok"}})"
        "\n");
}

TEST(Replies, MessageTextIsUtf8)
{
    EXPECT_EQ(written([] { replyError(1, "d\xc3\xa9j\xc3\xa0 vu"); }),
              "{\"error\":{\"code\":1,\"message\":\"d\xc3\xa9j\xc3\xa0 vu\"},\"id\":1,"
              "\"jsonrpc\":\"2.0\"}\n");
}

TEST(Replies, AWriteThatFailsIsDroppedAndTheNextMessageIsWhole)
{
    std::signal(SIGPIPE, SIG_DFL);
    {
        Pipe gone;
        gone.closeRead();
        testsupport::ChannelScope channels(-1, gone.writeFd);
        replyError(1, "lost"); // must neither kill the process nor be kept for later
    }
    EXPECT_EQ(written([] { replyResult(2, QJsonValue(QJsonValue::Null)); }),
              "{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":null}\n");
}

// ---------------------------------------------------------------------------------------------
// Whole sessions of the command loop

constexpr char kHello1[]
    = R"({"id":1,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0","protocol_version":1}})"
      "\n";

TEST(CommandLoop, AnswersHello)
{
    HelperState state;
    FakeGui gui;
    EXPECT_EQ(runSession("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"hello\"}\n", state, gui),
              kHello1);
}

TEST(CommandLoop, ShutdownIsAcknowledgedAndReadingGoesOn)
{
    HelperState state;
    FakeGui gui;
    EXPECT_EQ(runSession(R"({"id":3,"method":"shutdown"}
{"id":1,"method":"hello"}
)",
                         state, gui),
              std::string(R"({"id":3,"jsonrpc":"2.0","result":null}
)") + kHello1);
    EXPECT_EQ(gui.events(), std::vector<std::string>{"quit"});
}

TEST(CommandLoop, AnswersOnlyTheFiveMethodsAndDropsEverythingElseSilently)
{
    HelperState state;
    FakeGui gui;
    const std::string input = "\n"
                              "not json\n"
                              "[{\"id\":1,\"method\":\"hello\"}]\n"
                              "\"hello\"\n"
                              "42\n"
                              "null\n"
                              "{\"id\":2,\"method\":\"hello\"} trailing\n"
                              "{\"id\":3,\"method\":\"Hello\"}\n"
                              "{\"id\":4,\"method\":\"hello \"}\n"
                              "{\"id\":5,\"method\":\"HELLO\"}\n"
                              "{\"id\":6,\"method\":\"\"}\n"
                              "{\"id\":7}\n"
                              "{\"id\":8,\"method\":7}\n"
                              "{\"id\":9,\"method\":\"cancel\"}\n"
                              "{\"id\":10,\"method\":\"hello\"}\r\n"
                              "{\"id\":42.9,\"method\":\"hello\",\"params\":[1]}\n"
                              "{\"id\":-7.5,\"method\":\"shutdown\"}\n"
                              "{\"id\":\"11\",\"method\":\"hello\"}\n"
                              "{\"id\":null,\"method\":\"hello\",\"params\":{\"x\":1}}\n"
                              "{\"method\":\"shutdown\",\"jsonrpc\":\"1.0\"}\n"
                              "\r\n"
                              "{\"id\":12,\"method\":\"hello\"}\n"
                              "{\"id\":13,\"method\":\"hello\"}";
    EXPECT_EQ(
        runSession(input, state, gui),
        R"({"id":10,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0","protocol_version":1}}
{"id":42,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0","protocol_version":1}}
{"id":-7,"jsonrpc":"2.0","result":null}
{"id":0,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0","protocol_version":1}}
{"id":0,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0","protocol_version":1}}
{"id":0,"jsonrpc":"2.0","result":null}
{"id":12,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0","protocol_version":1}}
)");
    EXPECT_EQ(gui.events(), std::vector<std::string>{"quit"}) << "the cancel opened nothing";
}

TEST(CommandLoop, ARequestSplitOverManyReadsIsAnsweredOnceWhole)
{
    // A request larger than one read, padded by a params member that is never looked at.
    HelperState state;
    FakeGui gui;
    const std::string padding(3 * 4096 + 17, 'p');
    const std::string input = R"({"id":1,"params":{"pad":")" + padding
        + R"("},"method":"hello"})"
          "\n"
        + R"({"id":1,"method":"hello"})" + "\n";
    EXPECT_EQ(runSession(input, state, gui), std::string(kHello1) + kHello1);
}

TEST(CommandLoop, EndOfInputEndsTheLoopAndPostsQuitOnce)
{
    HelperState state;
    FakeGui gui;
    EXPECT_EQ(runSession("", state, gui), "");
    EXPECT_EQ(gui.events(), std::vector<std::string>{"quit"});
    EXPECT_EQ(state.activeWait, nullptr);
}

TEST(CommandLoop, ExitIsNotAnsweredAndNothingAfterItIsHandled)
{
    // The in-channel stays open: the loop must end on the exit line, not at the end of input.
    HelperState state;
    FakeGui gui;
    Pipe in;
    MemoryFile out;
    testsupport::ChannelScope channels(in.readFd, out.fd);
    ASSERT_TRUE(in.writeAll(R"({"id":1,"method":"hello"}
{"id":2,"method":"exit"}
{"id":3,"method":"hello"}
{"id":4,"method":"navigate","params":{"redirect_uri":"app://auth/done"}}
)"));
    testsupport::runWithin([&] { commandLoop(&state, gui.calls()); }, std::chrono::seconds(20),
                           "commandLoop after exit");
    EXPECT_EQ(out.contents(), kHello1);
    EXPECT_EQ(gui.events(), std::vector<std::string>{"quit"});
}

TEST(CommandLoop, AnOutChannelThatRefusesWritesDoesNotStopTheReading)
{
    std::signal(SIGPIPE, SIG_DFL);
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::offerRedirectAtOnce(gui, "app://auth/done?code=1");
    Pipe in;
    Pipe out;
    out.closeRead();
    testsupport::ChannelScope channels(in.readFd, out.writeFd);
    ASSERT_TRUE(in.writeAll(R"({"id":1,"method":"hello"}
{"id":2,"method":"navigate","params":{"redirect_uri":"app://auth/done"}}
{"id":3,"method":"shutdown"}
{"id":4,"method":"exit"}
)"));
    testsupport::runWithin([&] { commandLoop(&state, gui.calls()); }, std::chrono::seconds(20),
                           "commandLoop with a refusing out-channel");
    EXPECT_EQ(gui.events(), (std::vector<std::string>{"open", "hide", "quit"}));
    EXPECT_EQ(gui.redirectResults(), std::vector<bool>{true});
}

} // namespace
