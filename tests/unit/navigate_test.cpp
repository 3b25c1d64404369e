// The navigate request through the command loop, with a stand-in for the sign-in window: every
// way a sign-in ends, the time limit, what the window is asked to show, and the ordering of the
// lines that arrive while a sign-in waits.
#include "channel/commandloop.h"
#include "channel/navigaterequest.h"
#include "channel/replies.h"
#include "signin/helperstate.h"
#include "signin/redirect.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <atomic>
#include <fcntl.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::FakeGui;
using testsupport::MemoryFile;
using testsupport::runSession;

namespace {

const std::vector<std::string> kOpenHideQuit{"open", "hide", "quit"};

TEST(NavigateSession, ARedirectWithoutErrorAnswersOkWithTheWholeUrl)
{
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::offerRedirectLater(gui, "app://auth/done?code=42&state=x#frag");
    EXPECT_EQ(
        runSession(
            R"({"id":5,"method":"navigate","params":{"url":"https://idp.example/authorize","redirect_uri":"app://auth/done","title":"Sign in"}}
)",
            state, gui),
        R"({"id":5,"jsonrpc":"2.0","result":{"redirect_url":"app://auth/done?code=42&state=x#frag","status":"ok"}}
)");
    EXPECT_EQ(gui.events(), kOpenHideQuit);
    EXPECT_EQ(gui.redirectResults(), std::vector<bool>{true});
    EXPECT_EQ(state.activeWait, nullptr);
    EXPECT_EQ(state.redirectUri, "app://auth/done") << "kept after the request";
}

TEST(NavigateSession, AFormPostedToTheRedirectUriComesWithTheUrl)
{
    // A name sent twice keeps its last value; a redirect with no form has no "form" member
    // (the test above).
    HelperState state;
    FakeGui gui;
    gui.onOpen = [&gui](HelperState &state, const SignInPage &) {
        gui.recordRedirectResult(
            tryCompleteRedirect(state, "app://auth/done",
                                FormFields{{"state", "x"}, {"code", "a b+c"}, {"state", "y"}}));
    };
    EXPECT_EQ(
        runSession(R"({"id":7,"method":"navigate","params":{"redirect_uri":"app://auth/done"}}
)",
                   state, gui),
        R"({"id":7,"jsonrpc":"2.0","result":{"form":{"code":"a b+c","state":"y"},"redirect_url":"app://auth/done","status":"ok"}}
)");
}

TEST(NavigateSession, AWaitCompletedBeforeTheWaitStartsEndsAtOnce)
{
    // No time limit given: if the completion were missed the request would wait 180 s.
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::offerRedirectAtOnce(gui, "APP://Auth/DONE?code=1");
    EXPECT_EQ(
        runSession(R"({"id":6,"method":"navigate","params":{"redirect_uri":"app://auth/done"}}
)",
                   state, gui),
        R"({"id":6,"jsonrpc":"2.0","result":{"redirect_url":"APP://Auth/DONE?code=1","status":"ok"}}
)");
    EXPECT_EQ(gui.events(), kOpenHideQuit);
}

TEST(NavigateSession, AProviderErrorIsAnsweredWithItsText)
{
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::offerRedirectLater(
        gui, "app://auth/done?error=access_denied&error_subcode=cancel");
    EXPECT_EQ(runSession(R"({"id":8,"method":"navigate","params":{"redirect_uri":"app://auth/done"}}
)",
                         state, gui),
              R"({"error":{"code":1,"message":"access_denied: cancel"},"id":8,"jsonrpc":"2.0"}
)");
    EXPECT_EQ(gui.events(), kOpenHideQuit);
}

TEST(NavigateSession, AnErrorWithAnEmptyTextIsAnsweredAsUserCancelled)
{
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::offerRedirectLater(gui, "app://auth/done?error==");
    EXPECT_EQ(runSession(R"({"id":9,"method":"navigate","params":{"redirect_uri":"app://auth/done"}}
)",
                         state, gui),
              R"({"error":{"code":1,"message":"user_cancelled"},"id":9,"jsonrpc":"2.0"}
)");
    EXPECT_EQ(gui.redirectResults(), std::vector<bool>{true});
}

TEST(NavigateSession, ClosingTheWindowIsAnsweredAsUserCancelled)
{
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::closeLater(gui);
    EXPECT_EQ(runSession(R"({"id":10,"method":"navigate"}
)",
                         state, gui),
              R"({"error":{"code":1,"message":"user_cancelled"},"id":10,"jsonrpc":"2.0"}
)");
    EXPECT_EQ(gui.events(), kOpenHideQuit);
}

TEST(NavigateSession, TheTimeLimitEndsTheWaitAndALateRedirectIsRefused)
{
    HelperState state;
    FakeGui gui;
    EXPECT_EQ(
        runSession(
            R"({"id":11,"method":"navigate","params":{"redirect_uri":"app://auth/done","timeout_ms":50}}
)",
            state, gui),
        R"({"error":{"code":1,"message":"timeout"},"id":11,"jsonrpc":"2.0"}
)");
    EXPECT_EQ(gui.events(), kOpenHideQuit);
    EXPECT_EQ(state.activeWait, nullptr) << "the timed-out wait was withdrawn";
    EXPECT_FALSE(tryCompleteRedirect(state, "app://auth/done?code=late"));
    EXPECT_EQ(recogniseRedirect(state, "app://auth/done?code=late"), RedirectMatch::Stale);
}

TEST(NavigateSession, ACancelLineAfterNavigateWaitsForTheReplyAndChangesNothing)
{
    // Both lines arrive in one read; the cancel is handled only after the sign-in has ended.
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::offerRedirectLater(gui, "app://auth/done?code=7");
    EXPECT_EQ(
        runSession(R"({"id":1,"method":"navigate","params":{"redirect_uri":"app://auth/done"}}
{"id":2,"method":"cancel"}
{"id":3,"method":"shutdown"}
)",
                   state, gui),
        R"({"id":1,"jsonrpc":"2.0","result":{"redirect_url":"app://auth/done?code=7","status":"ok"}}
{"id":3,"jsonrpc":"2.0","result":null}
)");
    EXPECT_EQ(gui.events(), kOpenHideQuit);
}

TEST(NavigateSession, TwoNavigatesInARowAreBothAnsweredInOrder)
{
    HelperState state;
    FakeGui gui;
    int opened = 0;
    gui.onOpen = [&gui, &opened](HelperState &s, const SignInPage &page) {
        ++opened;
        const std::string url = page.url.toString().toStdString() + "?n=" + std::to_string(opened);
        testsupport::offerRedirectLater(gui, url)(s, page);
    };
    EXPECT_EQ(
        runSession(
            R"({"id":1,"method":"navigate","params":{"url":"app://one/","redirect_uri":"app://one/"}}
{"id":2,"method":"navigate","params":{"url":"app://two/","redirect_uri":"app://two/"}}
)",
            state, gui),
        R"({"id":1,"jsonrpc":"2.0","result":{"redirect_url":"app://one/?n=1","status":"ok"}}
{"id":2,"jsonrpc":"2.0","result":{"redirect_url":"app://two/?n=2","status":"ok"}}
)");
    EXPECT_EQ(gui.events(), (std::vector<std::string>{"open", "hide", "open", "hide", "quit"}));
    EXPECT_EQ(state.redirectUri, "app://two/");
}

TEST(NavigateSession, TheWindowIsAskedForTitleUrlUserAgentActivationTokenAndParent)
{
    HelperState state;
    FakeGui gui;
    gui.onOpen = testsupport::closeLater(gui);
    runSession(
        R"({"id":1,"method":"navigate","params":{"title":"Anmelden \u00fcber \u2603","url":"https://idp.example/a b?x=%zz","redirect_uri":"app://auth/done","user_agent":"TestAgent/2.0","activation_token":"sway-1_TIME42","parent_window":"x11:4a0000c"}}
{"id":2,"method":"navigate","params":{"title":7,"url":null,"user_agent":"","activation_token":42,"parent_window":77594636}}
{"id":3,"method":"navigate","params":"not an object"}
)",
        state, gui);
    const std::vector<SignInPage> pages = gui.pages();
    ASSERT_EQ(pages.size(), 3u);

    EXPECT_EQ(pages[0].title,
              QString::fromUtf8("Anmelden \xc3\xbc"
                                "ber \xe2\x98\x83"));
    EXPECT_EQ(pages[0].url,
              QUrl(QStringLiteral("https://idp.example/a b?x=%zz"), QUrl::TolerantMode));
    EXPECT_TRUE(pages[0].url.isValid()) << "tolerant parsing keeps a URL with a space";
    EXPECT_EQ(pages[0].url.host(), QStringLiteral("idp.example"));
    EXPECT_EQ(pages[0].userAgent, "TestAgent/2.0");
    EXPECT_EQ(pages[0].activationToken, "sway-1_TIME42");
    EXPECT_EQ(pages[0].parent.system, ParentHandle::System::X11);
    EXPECT_EQ(pages[0].parent.x11Window, 0x4a0000cu);

    for (std::size_t i = 1; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(pages[i].title.isEmpty());
        EXPECT_TRUE(pages[i].url.isEmpty());
        EXPECT_EQ(pages[i].userAgent, "") << "empty: the engine's default user agent";
        EXPECT_EQ(pages[i].activationToken, "") << "a token of another type is no token";
        EXPECT_EQ(pages[i].parent.system, ParentHandle::System::None)
            << "a parent of another type is no parent";
    }
}

// ---------------------------------------------------------------------------------------------
// The time limit

struct TimeoutCase {
    const char *name;
    const char *params;
    std::uint32_t milliseconds;
};

class NavigateTimeout : public testing::TestWithParam<TimeoutCase>
{
};

TEST_P(NavigateTimeout, IsTheTruncatedNumberKeptToItsLow32Bits)
{
    const QJsonObject params = QJsonDocument::fromJson(GetParam().params).object();
    EXPECT_EQ(navigateTimeoutMs(params), GetParam().milliseconds);
}

const TimeoutCase kTimeoutCases[] = {
    {"Absent", R"({})", 180000},
    {"Zero", R"({"timeout_ms":0})", 180000},
    {"BelowOne", R"({"timeout_ms":0.9})", 180000},
    {"Fraction", R"({"timeout_ms":1500.7})", 1500},
    {"Whole", R"({"timeout_ms":50})", 50},
    {"DigitString", R"({"timeout_ms":"1500"})", 180000},
    {"Boolean", R"({"timeout_ms":true})", 180000},
    {"Null", R"({"timeout_ms":null})", 180000},
    {"MinusOne", R"({"timeout_ms":-1})", 4294967295u},
    {"TwoTo32Plus5", R"({"timeout_ms":4294967301})", 5},
    {"TwoTo32", R"({"timeout_ms":4294967296})", 180000},
    {"MinusTwoTo32", R"({"timeout_ms":-4294967296})", 180000},
    {"Huge", R"({"timeout_ms":1e300})", 180000},
    {"TwoTo63", R"({"timeout_ms":9223372036854775808})", 180000},
};

INSTANTIATE_TEST_SUITE_P(Table, NavigateTimeout, testing::ValuesIn(kTimeoutCases),
                         [](const testing::TestParamInfo<TimeoutCase> &info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// A navigate that finds a sign-in in flight

QJsonObject paramsOf(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

TEST(NavigateAlreadyInProgress, IsRefusedWithoutTouchingTheSignInInFlight)
{
    HelperState state;
    NavigationWait inFlight;
    state.activeWait = &inFlight;
    state.redirectUri = "app://first/done";
    FakeGui gui;
    MemoryFile out;
    testsupport::ChannelScope channels(-1, out.fd);

    handleNavigate(state, gui.calls(), 12,
                   paramsOf(R"({"redirect_uri":"app://second/done","timeout_ms":1})"));

    EXPECT_EQ(
        out.contents(),
        R"({"error":{"code":1,"message":"navigate_already_in_progress"},"id":12,"jsonrpc":"2.0"}
)");
    EXPECT_EQ(state.activeWait, &inFlight);
    EXPECT_EQ(state.redirectUri, "app://first/done");
    EXPECT_FALSE(inFlight.done);
    EXPECT_TRUE(gui.events().empty()) << "neither an open nor a hide";
}

TEST(NavigateAlreadyInProgress, TheRefusalIsWrittenWithoutHoldingTheSharedLock)
{
    // The GUI thread's completers take HelperState::mutex; a reply stuck on a full out-channel
    // must not hold them up.
    HelperState state;
    NavigationWait inFlight;
    state.activeWait = &inFlight;
    FakeGui gui;
    testsupport::Pipe out;
    std::string filler(65536, 'f');
    ASSERT_EQ(::fcntl(out.writeFd, F_SETFL, O_NONBLOCK), 0);
    while (::write(out.writeFd, filler.data(), filler.size()) > 0) { }
    ASSERT_EQ(::fcntl(out.writeFd, F_SETFL, 0), 0);
    testsupport::ChannelScope channels(-1, out.writeFd);

    std::atomic<pid_t> commandTid{0};
    std::thread command([&] {
        commandTid = static_cast<pid_t>(::syscall(SYS_gettid));
        handleNavigate(state, gui.calls(), 13, QJsonObject());
    });
    while (commandTid == 0)
        std::this_thread::yield();
    const bool blocked
        = testsupport::waitUntilInSyscall(commandTid, SYS_write, std::chrono::seconds(5));
    bool lockFree = false;
    if (blocked) {
        lockFree = state.mutex.try_lock();
        if (lockFree)
            state.mutex.unlock();
    }
    // Drain the pipe so the reply gets out and the command thread ends.
    std::string drained;
    char buffer[65536];
    while (drained.empty() || drained.back() != '\n') {
        const ssize_t n = ::read(out.readFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        drained.append(buffer, static_cast<std::size_t>(n));
    }
    command.join();
    ASSERT_TRUE(blocked) << "the reply never blocked in write()";
    EXPECT_TRUE(lockFree) << "HelperState::mutex was held while writing the reply";
    EXPECT_EQ(
        drained.substr(drained.find('{')),
        R"({"error":{"code":1,"message":"navigate_already_in_progress"},"id":13,"jsonrpc":"2.0"}
)");
}

} // namespace
