// libcorvane-tavisk-client: its JSON reader and writer, its reply framing, and the C API against
// a stand-in helper (tests/e2e/client/fakehelper.py) that ends, hangs, or answers wrongly on
// cue. Linked without Qt, so these also run under the sanitizers.

#include "json.h"
#include "replyreader.h"

#include <corvane-tavisk/client.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace taviskclient;

namespace {

// --- JSON ---------------------------------------------------------------------------------

TEST(ClientJson, ReadsWhatRfc8259AllowsAndNothingElse)
{
    struct Case {
        const char *name;
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"object with white space", " {\"a\" : [1, -2.5e3, true, false, null]}\r\n", true},
        {"string escapes", R"("\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00")", true},
        {"empty containers", "{\"a\":{},\"b\":[]}", true},
        {"trailing comma", "{\"a\":1,}", false},
        {"text after the value", "{} {}", false},
        {"single quotes", "{'a':1}", false},
        {"leading zero", "01", false},
        {"bare minus", "-", false},
        {"fraction without digits", "1.", false},
        {"plus sign", "+1", false},
        {"control character in a string", std::string("\"a\x01\""), false},
        {"lone high surrogate", R"("\ud83d")", false},
        {"lone low surrogate", R"("\ude00")", false},
        {"unknown escape", R"("\x41")", false},
        {"invalid UTF-8", "\"\xc3\x28\"", false},
        {"overlong UTF-8", "\"\xc0\xaf\"", false},
        {"UTF-8 surrogate", "\"\xed\xa0\x80\"", false},
        {"unterminated string", "\"abc", false},
        {"nothing", "", false},
        {"NaN", "NaN", false},
        // Past a double's range: no id or version could match it anyway.
        {"number too large", "{\"id\":1e999}", false},
        {"nesting at the limit", std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']'),
         true},
        {"nesting past the limit",
         std::string(kMaxJsonDepth + 1, '[') + std::string(kMaxJsonDepth + 1, ']'), false},
    };
    for (const Case &c : cases) {
        Json value;
        EXPECT_EQ(parseJson(c.text, value), c.valid) << c.name;
    }
}

TEST(ClientJson, DecodesStringsAndNumbers)
{
    Json value;
    ASSERT_TRUE(
        parseJson(R"({"e":"a\"b\u00e9\ud83d\ude00","n":-12.5e1,"s":"first","s":"last"})", value));
    EXPECT_EQ(*jsonString(jsonMember(&value, "e")), "a\"b\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(jsonMember(&value, "n")->get<double>(), -125.0);
    EXPECT_EQ(*jsonString(jsonMember(&value, "s")), "last"); // the later duplicate wins
    EXPECT_EQ(jsonMember(&value, "missing"), nullptr);
    EXPECT_EQ(jsonString(jsonMember(&value, "n")), nullptr);
    EXPECT_EQ(jsonMember(jsonMember(&value, "e"), "x"), nullptr);
}

TEST(ClientJson, WrittenStringsReadBackUnchanged)
{
    const std::string texts[] = {
        "",
        "plain",
        "quote \" backslash \\ slash /",
        "line\nfeed\rtab\t",
        std::string("nul \0 and \x1f", 11),
        "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
        "https://app.example/done?code=a%2Fb&state=s#frag",
    };
    for (const std::string &text : texts) {
        std::string literal;
        appendJsonString(literal, text);
        Json value;
        ASSERT_TRUE(parseJson(literal, value)) << literal;
        EXPECT_EQ(*jsonString(&value), text);
    }
    struct Case {
        const char *name;
        const char *text;
        bool valid;
    };
    const Case cases[] = {
        {"two-byte", "\xc3\xa9", true},
        {"four-byte", "\xf0\x9f\x98\x80", true},
        {"cut short at the end", "ab\xc3", false},
        {"cut short before more text", "\xe2\x82z", false},
        {"overlong", "\xc0\xaf", false},
        {"surrogate", "\xed\xa0\x80", false},
        {"past U+10FFFF", "\xf4\x90\x80\x80", false},
        {"stray continuation byte", "a\x80", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.name;
    std::string literal;
    appendJsonString(literal, "a\xc3");
    EXPECT_EQ(literal, "\"a\xef\xbf\xbd\""); // written, not thrown
}

// --- Reply framing and reading -----------------------------------------------------------

TEST(ClientReplies, LinesSplitAcrossPiecesAndBoundedInLength)
{
    LineBuffer buffer(8);
    std::string line;
    ASSERT_TRUE(buffer.append("abc", 3));
    EXPECT_FALSE(buffer.takeLine(line));
    ASSERT_TRUE(buffer.append("de\n\nfghijklm\nx", 14));
    const std::vector<std::string> expected{"abcde", "", "fghijklm"};
    for (const std::string &want : expected) {
        ASSERT_TRUE(buffer.takeLine(line));
        EXPECT_EQ(line, want);
    }
    EXPECT_FALSE(buffer.takeLine(line));
    EXPECT_EQ(buffer.pendingBytes(), 1u);
    // Eight bytes fit; the ninth, in any later piece, is too many, and the buffer stays refused.
    ASSERT_TRUE(buffer.append("1234567", 7));
    EXPECT_FALSE(buffer.append("9", 1));
    EXPECT_TRUE(buffer.overflowed());
    EXPECT_FALSE(buffer.append("\n", 1));

    LineBuffer whole(4);
    EXPECT_FALSE(whole.append("ok\ntoo long\n", 12)) << "a long line inside one piece counts too";
}

TEST(ClientReplies, NavigateOutcomes)
{
    using Kind = NavigateOutcome::Kind;
    struct Case {
        const char *line;
        Kind kind;
        const char *text;
    };
    const Case cases[] = {
        {R"({"id":2,"jsonrpc":"2.0","result":{"redirect_url":"https://a/done?x=1","status":"ok"}})",
         Kind::SignedIn, "https://a/done?x=1"},
        {R"({"error":{"code":1,"message":"timeout"},"id":2,"jsonrpc":"2.0"})", Kind::Failed,
         "timeout"},
        {R"({"id":2,"result":{"status":"ok"}})", Kind::Malformed, ""},
        {R"({"id":2,"result":{"redirect_url":"u","status":"OK"}})", Kind::Malformed, ""},
        {R"({"id":2,"error":{"code":1}})", Kind::Malformed, ""},
        {R"({"id":2,"result":null})", Kind::Malformed, ""},
        {R"({"id":2})", Kind::Malformed, ""},
        {R"([1,2])", Kind::Malformed, ""},
    };
    for (const Case &c : cases) {
        const NavigateOutcome outcome = navigateOutcomeOf(readReply(c.line));
        EXPECT_EQ(outcome.kind, c.kind) << c.line;
        EXPECT_EQ(outcome.text, c.text) << c.line;
    }
    // A posted form's string fields come with the URL; no form, or another kind, gives none.
    using Fields = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(
        navigateOutcomeOf(
            readReply(
                R"({"id":2,"result":{"form":{"code":"c1","n":5,"state":""},"redirect_url":"u","status":"ok"}})"))
            .form,
        (Fields{{"code", "c1"}, {"state", ""}}));
    EXPECT_EQ(
        navigateOutcomeOf(
            readReply(R"({"id":2,"result":{"form":["code"],"redirect_url":"u","status":"ok"}})"))
            .form,
        Fields{});
    EXPECT_EQ(readReply(R"({"id":"2","result":{}})").kind, Reply::Kind::NotAReply);
    EXPECT_EQ(protocolVersionOf(readReply(R"({"id":1,"result":{"protocol_version":1}})")), 1);
    EXPECT_EQ(protocolVersionOf(readReply(R"({"id":1,"result":{"protocol_version":1.5}})")), -1);
    EXPECT_EQ(protocolVersionOf(readReply(R"({"id":1,"result":{}})")), -1);
}

// --- The C API against a stand-in helper -------------------------------------------------

const char *const kRedirect = "http://127.0.0.1:9/done";

struct Transcript {
    std::vector<std::string> lines;
};

extern "C" void recordLine(void *context, char direction, const char *line)
{
    static_cast<Transcript *>(context)->lines.push_back(std::string(1, direction) + " " + line);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A handle set up for the stand-in helper in `mode`, its standard streams on /dev/null, and a
// report file for what it saw.
class FakeHelper : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/tavisk-clientlib-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_report = m_folder + "/report.json";
        setenv("FAKE_HELPER_REPORT", m_report.c_str(), 1);
        m_null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        client = tavisk_client_new();
        ASSERT_NE(client, nullptr);
        tavisk_client_set_output_fd(client, m_null);
        tavisk_client_set_transcript(client, recordLine, &transcript);
    }

    void TearDown() override
    {
        tavisk_client_free(client);
        close(m_null);
        std::remove(m_report.c_str());
        rmdir(m_folder.c_str());
    }

    tavisk_status start(const char *mode)
    {
        setenv("FAKE_HELPER_MODE", mode, 1);
        return tavisk_client_start(client, TAVISK_FAKE_HELPER);
    }

    std::string report() const { return readFile(m_report); }

    tavisk_client *client = nullptr;
    Transcript transcript;

private:
    std::string m_folder;
    std::string m_report;
    int m_null = -1;
};

TEST_F(FakeHelper, BlockingSignInSendsEveryParameterAndEndsInOrder)
{
    ASSERT_EQ(start("ok"), TAVISK_OK) << tavisk_client_message(client);
    EXPECT_GT(tavisk_client_pid(client), 0);
    const char *title = "Sign in \"here\" \xc3\xa9";
    ASSERT_EQ(
        tavisk_client_sign_in(client, "http://127.0.0.1:9/a?b=c&d", kRedirect, title, "UA/1", 1500),
        TAVISK_OK)
        << tavisk_client_message(client);
    EXPECT_STREQ(tavisk_client_redirect_url(client), "http://127.0.0.1:9/done?code=fake");
    EXPECT_STREQ(tavisk_client_helper_name(client), "corvane-tavisk/1.0");
    EXPECT_EQ(tavisk_client_close(client, 5000), TAVISK_OK) << tavisk_client_message(client);
    EXPECT_EQ(tavisk_client_pid(client), -1);
    EXPECT_EQ(tavisk_client_fd(client), -1);

    const std::vector<std::string> expected{
        R"(> {"id":1,"jsonrpc":"2.0","method":"hello"})",
        R"(< {"id": 1, "jsonrpc": "2.0", "result": {"helper": "corvane-tavisk/1.0", "protocol_version": 1}})",
        "> "
        R"({"id":2,"jsonrpc":"2.0","method":"navigate","params":{"redirect_uri":"http://127.0.0.1:9/done","timeout_ms":1500,"title":"Sign in \"here\" )"
        "\xc3\xa9"
        R"(","url":"http://127.0.0.1:9/a?b=c&d","user_agent":"UA/1"}})",
        R"(< {"id": 2, "jsonrpc": "2.0", "result": {"redirect_url": "http://127.0.0.1:9/done?code=fake", "status": "ok"}})",
        R"(> {"jsonrpc":"2.0","method":"exit"})",
    };
    EXPECT_EQ(transcript.lines, expected);
    // The helper inherited its standard streams and its two channels, nothing else.
    EXPECT_NE(report().find("\"open_fds\": [0, 1, 2, 3, 4]"), std::string::npos) << report();
}

TEST_F(FakeHelper, TheParentWindowGoesWithEverySignInUntilCleared)
{
    EXPECT_EQ(tavisk_client_set_parent_window(client, "wayland:\xff"), TAVISK_BAD_CALL);
    EXPECT_STREQ(tavisk_client_message(client), "the parent_window is not UTF-8");
    ASSERT_EQ(tavisk_client_set_parent_window(client, "x11:1a00003"), TAVISK_OK);
    ASSERT_EQ(start("ok"), TAVISK_OK) << tavisk_client_message(client);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);
    ASSERT_EQ(tavisk_client_set_parent_window(client, nullptr), TAVISK_OK);
    ASSERT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);

    std::vector<std::string> navigates;
    for (const std::string &line : transcript.lines) {
        if (line.find("\"navigate\"") != std::string::npos)
            navigates.push_back(line);
    }
    const std::string withParent
        = R"("method":"navigate","params":{"parent_window":"x11:1a00003","redirect_uri":")";
    ASSERT_EQ(navigates.size(), 3u);
    EXPECT_NE(navigates[0].find(withParent), std::string::npos) << navigates[0];
    EXPECT_NE(navigates[1].find(withParent), std::string::npos) << navigates[1];
    EXPECT_EQ(navigates[2].find("parent_window"), std::string::npos) << navigates[2];
}

TEST_F(FakeHelper, SessionAndSilentGoWithEverySignInAndForgetWaitsForItsAnswer)
{
    EXPECT_EQ(tavisk_client_set_session(client, "w\xff"), TAVISK_BAD_CALL);
    ASSERT_EQ(tavisk_client_set_session(client, "work"), TAVISK_OK);
    ASSERT_EQ(tavisk_client_set_silent(client, 1), TAVISK_OK);
    ASSERT_EQ(start("ok"), TAVISK_OK) << tavisk_client_message(client);
    // Before hello is answered: forget waits for that answer first.
    EXPECT_EQ(tavisk_client_forget(client, "old"), TAVISK_OK) << tavisk_client_message(client);
    EXPECT_EQ(tavisk_client_forget(client, "busy"), TAVISK_SIGNIN_FAILED);
    EXPECT_STREQ(tavisk_client_message(client), "session_in_use");
    EXPECT_EQ(tavisk_client_forget(client, ""), TAVISK_BAD_CALL);
    EXPECT_EQ(tavisk_client_forget(client, nullptr), TAVISK_BAD_CALL);

    EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0),
              TAVISK_INTERACTION_REQUIRED);
    EXPECT_STREQ(tavisk_client_message(client), "interaction_required");
    ASSERT_EQ(tavisk_client_set_silent(client, 0), TAVISK_OK);
    EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);
    ASSERT_EQ(tavisk_client_set_session(client, nullptr), TAVISK_OK);
    EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);

    std::vector<std::string> sent;
    for (const std::string &line : transcript.lines) {
        if (line.rfind("> ", 0) == 0 && line.find("\"hello\"") == std::string::npos
            && line.find("\"exit\"") == std::string::npos)
            sent.push_back(line);
    }
    const std::vector<std::string> expected{
        R"(> {"id":2,"jsonrpc":"2.0","method":"forget","params":{"session":"old"}})",
        R"(> {"id":3,"jsonrpc":"2.0","method":"forget","params":{"session":"busy"}})",
        R"(> {"id":4,"jsonrpc":"2.0","method":"navigate","params":{"redirect_uri":"http://127.0.0.1:9/done","session":"work","silent":true,"title":"T","url":"u"}})",
        R"(> {"id":5,"jsonrpc":"2.0","method":"navigate","params":{"redirect_uri":"http://127.0.0.1:9/done","session":"work","title":"T","url":"u"}})",
        R"(> {"id":6,"jsonrpc":"2.0","method":"navigate","params":{"redirect_uri":"http://127.0.0.1:9/done","title":"T","url":"u"}})",
    };
    EXPECT_EQ(sent, expected);
    EXPECT_STREQ(tavisk_status_name(TAVISK_INTERACTION_REQUIRED), "interaction required");
}

TEST_F(FakeHelper, NothingInheritableOfOursReachesTheHelper)
{
    int leaky[2];
    ASSERT_EQ(pipe(leaky), 0); // no O_CLOEXEC: a careless host program's descriptor
    ASSERT_EQ(start("ok"), TAVISK_OK);
    ASSERT_EQ(tavisk_client_sign_in(client, "u", kRedirect, nullptr, nullptr, 0), TAVISK_OK);
    close(leaky[0]);
    close(leaky[1]);
    EXPECT_NE(report().find("\"open_fds\": [0, 1, 2, 3, 4]"), std::string::npos) << report();
    // Neither a title nor a limit given: the title is empty and the helper's default applies.
    EXPECT_NE(
        report().find(
            R"("params": {"redirect_uri": "http://127.0.0.1:9/done", "title": "", "url": "u"})"),
        std::string::npos)
        << report();
}

TEST_F(FakeHelper, NonBlockingSignInReportsOnceThroughTheDescriptor)
{
    ASSERT_EQ(start("ok"), TAVISK_OK);
    const int fd = tavisk_client_fd(client);
    ASSERT_GE(fd, 3);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    // Begun before the hello answer: sent once it has come.
    ASSERT_EQ(tavisk_client_navigate(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);
    EXPECT_EQ(tavisk_client_navigate(client, "u", kRedirect, "T", nullptr, 0), TAVISK_BAD_CALL);
    EXPECT_STREQ(tavisk_client_message(client), "a sign-in is already in flight");

    tavisk_status status = TAVISK_PENDING;
    int wakeUps = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (status == TAVISK_PENDING && std::chrono::steady_clock::now() < giveUp) {
        const int wait = tavisk_client_timeout_ms(client);
        EXPECT_GE(wait, 0);
        pollfd entry{fd, POLLIN, 0};
        poll(&entry, 1, wait);
        ++wakeUps;
        status = tavisk_client_process(client);
        EXPECT_EQ(tavisk_client_fd(client), fd);
    }
    ASSERT_EQ(status, TAVISK_OK) << tavisk_client_message(client);
    EXPECT_GE(wakeUps, 1);
    // Reported once; then idle, and a second sign-in works on the same helper.
    EXPECT_EQ(tavisk_client_process(client), TAVISK_PENDING);
    EXPECT_EQ(tavisk_client_timeout_ms(client), -1);
    EXPECT_EQ(tavisk_client_cancel(client), TAVISK_OK);
    EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);
    EXPECT_EQ(transcript.lines.at(4).substr(0, 40), R"(> {"id":3,"jsonrpc":"2.0","method":"canc)");
}

TEST_F(FakeHelper, HelpersThatCannotServe)
{
    struct Case {
        const char *mode;
        std::uint32_t replyWaitMs;
        tavisk_status status;
        const char *message;
    };
    const Case cases[] = {
        {"refuse", 0, TAVISK_SIGNIN_FAILED, "access_denied: cancel"},
        {"quit-after-hello", 0, TAVISK_HELPER_ENDED,
         "the helper ended before it answered navigate (exit status 5)"},
        {"killed-on-navigate", 0, TAVISK_HELPER_ENDED,
         "the helper ended before it answered navigate (killed by signal 9 (Killed))"},
        {"garbage", 0, TAVISK_PROTOCOL_ERROR,
         "the helper's answer to hello is not a reply to it: this is no reply"},
        {"wrong-version", 0, TAVISK_PROTOCOL_ERROR,
         "the helper speaks protocol version 2; this client speaks version 1"},
        {"unsolicited", 0, TAVISK_PROTOCOL_ERROR,
         R"(the helper's answer to navigate is not a reply to it: {"id": 1, "jsonrpc": "2.0", "result": null})"},
        {"oversized", 0, TAVISK_PROTOCOL_ERROR, "the helper sent a line longer than 4194304 bytes"},
        {"mute", 300, TAVISK_HELPER_UNRESPONSIVE, "the helper did not answer hello in time"},
        {"hang", 300, TAVISK_HELPER_UNRESPONSIVE, "the helper did not answer navigate in time"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        tavisk_client_set_reply_wait_ms(client, c.replyWaitMs);
        ASSERT_EQ(start(c.mode), TAVISK_OK);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 100), c.status);
        EXPECT_STREQ(tavisk_client_message(client), c.message);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        if (c.status != TAVISK_SIGNIN_FAILED) {
            // A failure of the helper is final until it is closed.
            EXPECT_EQ(tavisk_client_process(client), c.status);
            EXPECT_EQ(tavisk_client_navigate(client, "u", kRedirect, "T", nullptr, 0), c.status);
            EXPECT_EQ(tavisk_client_timeout_ms(client), -1);
        }
        tavisk_client_close(client, 0);
        EXPECT_EQ(tavisk_client_pid(client), -1);
    }
}

TEST_F(FakeHelper, APageThatCannotBeLoadedHasAStatusPerReasonWithItsHostAndError)
{
    ASSERT_EQ(start("unreachable"), TAVISK_OK);
    const std::pair<tavisk_status, const char *> failures[] = {
        {TAVISK_CERTIFICATE_ERROR, "ERR_CERT_AUTHORITY_INVALID"},
        {TAVISK_PROXY_ERROR, "ERR_PROXY_CONNECTION_FAILED"},
        {TAVISK_NETWORK_ERROR, "ERR_NAME_NOT_RESOLVED"},
    };
    for (const auto &[status, error] : failures) {
        SCOPED_TRACE(error);
        EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), status);
        EXPECT_STREQ(tavisk_client_failure_host(client), "idp.example");
        EXPECT_STREQ(tavisk_client_failure_error(client), error);
    }
    // The helper still serves, and the next outcome leaves no failure behind.
    EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);
    EXPECT_STREQ(tavisk_client_failure_host(client), "");
    EXPECT_STREQ(tavisk_client_failure_error(client), "");
}

TEST_F(FakeHelper, DeathWithNoSignInInFlightIsReportedAndRaisesNoSigpipe)
{
    // SIGPIPE at its default, as in most programs: a write to the gone helper must not kill us.
    struct sigaction previous = {};
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaults, &previous);
    ASSERT_EQ(tavisk_client_start(client, "/bin/true"), TAVISK_OK);
    pollfd entry{tavisk_client_fd(client), POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 5000), 1);
    EXPECT_EQ(tavisk_client_process(client), TAVISK_HELPER_ENDED);
    EXPECT_STREQ(tavisk_client_message(client),
                 "the helper ended before it answered hello (exit status 0)");
    EXPECT_EQ(tavisk_client_cancel(client), TAVISK_HELPER_ENDED);
    EXPECT_EQ(tavisk_client_close(client, 1000), TAVISK_OK) << tavisk_client_message(client);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(FakeHelper, ClosingStopsAHelperThatDoesNotEnd)
{
    struct Case {
        const char *mode;
        const char *message;
    };
    const Case cases[] = {
        {"hang", "the helper did not end within 200 ms; stopped it with SIGTERM"},
        {"hang-ignore-term",
         "the helper did not end within 200 ms or after SIGTERM; killed it with SIGKILL"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_EQ(start(c.mode), TAVISK_OK);
        ASSERT_EQ(tavisk_client_navigate(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);
        // Wait for the helper to hold the sign-in (its report is written then).
        for (int i = 0; i < 500 && report().find("navigate") == std::string::npos; ++i) {
            tavisk_client_process(client);
            usleep(10000);
        }
        EXPECT_EQ(tavisk_client_process(client), TAVISK_PENDING);
        const pid_t pid = tavisk_client_pid(client);
        EXPECT_EQ(tavisk_client_close(client, 200), TAVISK_HELPER_ENDED);
        EXPECT_STREQ(tavisk_client_message(client), c.message);
        EXPECT_NE(kill(pid, 0), 0) << "the helper was not reaped";
        std::remove((std::string(getenv("FAKE_HELPER_REPORT"))).c_str());
    }
}

TEST_F(FakeHelper, ProgramsThatAreNoHelper)
{
    EXPECT_EQ(tavisk_client_start(client, "/nonexistent/corvane-tavisk"), TAVISK_START_FAILED);
    EXPECT_STREQ(tavisk_client_message(client),
                 "cannot start the helper /nonexistent/corvane-tavisk: No such file or directory");
    EXPECT_EQ(tavisk_client_start(client, "tavisk-no-such-helper"), TAVISK_HELPER_NOT_FOUND);
    EXPECT_STREQ(tavisk_client_message(client),
                 "cannot find the helper tavisk-no-such-helper on PATH");
    EXPECT_EQ(tavisk_client_fd(client), -1);
}

TEST(ClientCalls, CallsThatDoNotFitAreRefusedWithAMessage)
{
    EXPECT_EQ(tavisk_client_start(nullptr, nullptr), TAVISK_BAD_CALL);
    EXPECT_EQ(tavisk_client_process(nullptr), TAVISK_BAD_CALL);
    EXPECT_EQ(tavisk_client_fd(nullptr), -1);
    tavisk_client_free(nullptr);

    tavisk_client *client = tavisk_client_new();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(tavisk_client_navigate(client, "u", kRedirect, "T", nullptr, 0), TAVISK_BAD_CALL);
    EXPECT_STREQ(tavisk_client_message(client), "no helper runs; call tavisk_client_start first");
    EXPECT_EQ(tavisk_client_process(client), TAVISK_BAD_CALL);
    EXPECT_EQ(tavisk_client_close(client, 0), TAVISK_OK);
    EXPECT_EQ(tavisk_client_set_output_fd(client, -1), TAVISK_BAD_CALL);

    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    tavisk_client_set_output_fd(client, null);
    setenv("FAKE_HELPER_MODE", "ok", 1);
    unsetenv("FAKE_HELPER_REPORT");
    ASSERT_EQ(tavisk_client_start(client, TAVISK_FAKE_HELPER), TAVISK_OK);
    EXPECT_EQ(tavisk_client_start(client, TAVISK_FAKE_HELPER), TAVISK_BAD_CALL);
    EXPECT_EQ(tavisk_client_navigate(client, nullptr, kRedirect, "T", nullptr, 0), TAVISK_BAD_CALL);
    EXPECT_EQ(tavisk_client_navigate(client, "u\xff", kRedirect, "T", nullptr, 0), TAVISK_BAD_CALL);
    EXPECT_STREQ(tavisk_client_message(client), "the url is not UTF-8");
    EXPECT_EQ(tavisk_client_navigate(client, "u", kRedirect, "T", "\xc3", 0), TAVISK_BAD_CALL);
    EXPECT_STREQ(tavisk_client_message(client), "the user_agent is not UTF-8");
    // Refused calls leave the helper serving.
    EXPECT_EQ(tavisk_client_sign_in(client, "u", kRedirect, "T", nullptr, 0), TAVISK_OK);
    tavisk_client_free(client);
    close(null);
}

TEST(ClientCalls, TwoHandlesServeTwoHelpersAtOnce)
{
    setenv("FAKE_HELPER_MODE", "ok", 1);
    unsetenv("FAKE_HELPER_REPORT");
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    tavisk_client *clients[2] = {tavisk_client_new(), tavisk_client_new()};
    for (tavisk_client *client : clients) {
        tavisk_client_set_output_fd(client, null);
        ASSERT_EQ(tavisk_client_start(client, TAVISK_FAKE_HELPER), TAVISK_OK);
    }
    EXPECT_NE(tavisk_client_fd(clients[0]), tavisk_client_fd(clients[1]));
    ASSERT_EQ(tavisk_client_navigate(clients[0], "u", "http://a/", "A", nullptr, 0), TAVISK_OK);
    ASSERT_EQ(tavisk_client_navigate(clients[1], "u", "http://b/", "B", nullptr, 0), TAVISK_OK);
    tavisk_status status[2] = {TAVISK_PENDING, TAVISK_PENDING};
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((status[0] == TAVISK_PENDING || status[1] == TAVISK_PENDING)
           && std::chrono::steady_clock::now() < giveUp) {
        pollfd entries[2] = {{tavisk_client_fd(clients[0]), POLLIN, 0},
                             {tavisk_client_fd(clients[1]), POLLIN, 0}};
        poll(entries, 2, 100);
        for (int i = 0; i < 2; ++i) {
            if (status[i] == TAVISK_PENDING)
                status[i] = tavisk_client_process(clients[i]);
        }
    }
    EXPECT_EQ(status[0], TAVISK_OK);
    EXPECT_EQ(status[1], TAVISK_OK);
    EXPECT_STREQ(tavisk_client_redirect_url(clients[0]), "http://a/?code=fake");
    EXPECT_STREQ(tavisk_client_redirect_url(clients[1]), "http://b/?code=fake");
    for (tavisk_client *client : clients)
        tavisk_client_free(client);
    close(null);
}

} // namespace
