// Sign-in tracking: the query splitter, redirect recognition against the sign-in in flight, and
// the hand-off of one outcome from a completer to the waiting command thread, raced on purpose.
#include "channel/guicalls.h"
#include "channel/navigaterequest.h"
#include "channel/replies.h"
#include "signin/formpost.h"
#include "signin/helperstate.h"
#include "signin/parenthandle.h"
#include "signin/redirect.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using testsupport::FakeGui;
using testsupport::MemoryFile;

namespace {

const std::string kRedirectUri = "app://auth/done";

// ---------------------------------------------------------------------------------------------
// Splitting by pattern

struct SplitCase {
    const char *name;
    const char *text;
    const char *pattern;
    std::vector<std::string> pieces;
};

class SplitByPattern : public testing::TestWithParam<SplitCase>
{
};

TEST_P(SplitByPattern, CutsAtEveryMatchAndDropsOnlyAnEmptyLastPiece)
{
    EXPECT_EQ(splitByPattern(GetParam().text, GetParam().pattern), GetParam().pieces);
}

const SplitCase kSplitCases[] = {
    {"EmptyText", "", "&", {""}},
    {"NoDelimiter", "a", "&", {"a"}},
    {"TwoPieces", "a&b", "&", {"a", "b"}},
    {"LeadingDelimiter", "&a", "&", {"", "a"}},
    {"DoubledDelimiter", "a&&b", "&", {"a", "", "b"}},
    {"TrailingDelimiter", "a&", "&", {"a"}},
    {"TwoTrailingDelimiters", "a&&", "&", {"a", ""}},
    {"DelimiterAlone", "&", "&", {""}},
    {"KeyValue", "k=v", "=", {"k", "v"}},
    {"EmptyValue", "k=", "=", {"k"}},
    {"EmptyKey", "=v", "=", {"", "v"}},
    {"TrailingEquals", "k=v=", "=", {"k", "v"}},
    {"ThreeParts", "k=v=w", "=", {"k", "v", "w"}},
    {"ErrorWithTwoEquals", "error==", "=", {"error", ""}},
};

INSTANTIATE_TEST_SUITE_P(Table, SplitByPattern, testing::ValuesIn(kSplitCases),
                         [](const testing::TestParamInfo<SplitCase> &info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// Recognising the redirect of the sign-in in flight

enum class Outcome { NoMatch, Success, Error };

struct RedirectCase {
    const char *name;
    const char *url;
    Outcome outcome;
    const char *message; // for Error
};

class TryCompleteRedirect : public testing::TestWithParam<RedirectCase>
{
};

TEST_P(TryCompleteRedirect, CompletesTheWaitInFlightOnAMatch)
{
    const RedirectCase &c = GetParam();
    HelperState state;
    NavigationWait wait;
    state.activeWait = &wait;
    state.redirectUri = kRedirectUri;

    const bool completed = tryCompleteRedirect(state, c.url);

    EXPECT_EQ(state.redirectUri, kRedirectUri);
    if (c.outcome == Outcome::NoMatch) {
        EXPECT_FALSE(completed);
        EXPECT_FALSE(wait.done);
        EXPECT_EQ(state.activeWait, &wait) << "the wait must stay in flight";
        return;
    }
    EXPECT_TRUE(completed);
    EXPECT_TRUE(wait.done);
    EXPECT_EQ(state.activeWait, nullptr);
    if (c.outcome == Outcome::Success) {
        EXPECT_TRUE(wait.success);
        EXPECT_EQ(wait.redirectUrl, c.url) << "the URL exactly as offered";
        EXPECT_EQ(wait.message, "");
    } else {
        EXPECT_FALSE(wait.success);
        EXPECT_EQ(wait.redirectUrl, "");
        EXPECT_EQ(wait.message, c.message);
    }
}

const RedirectCase kRedirectCases[] = {
    {"CodeAndState", "app://auth/done?code=42&state=x", Outcome::Success, ""},
    {"OtherLetterCase", "APP://Auth/DONE?code=1", Outcome::Success, ""},
    {"NoBoundaryAfterThePrefix", "app://auth/done2", Outcome::Success, ""},
    {"ExactlyTheRedirectUri", "app://auth/done", Outcome::Success, ""},
    {"ShorterThanTheRedirectUri", "app://auth/don", Outcome::NoMatch, ""},
    {"OtherUrl", "https://idp.example/authorize?redirect_uri=app://auth/done", Outcome::NoMatch,
     ""},
    {"EmptyUrl", "", Outcome::NoMatch, ""},
    {"EncodedSlash", "app://auth%2Fdone?code=1", Outcome::Success, ""},
    {"EncodedQuestionMark", "app%3A%2F%2Fauth%2Fdone%3Ferror%3Dx", Outcome::Success, ""},
    {"NulEndsTheDecodedCopy", "app://auth%00/done", Outcome::NoMatch, ""},
    {"ErrorAndSubcode", "app://auth/done?error=access_denied&error_subcode=cancel", Outcome::Error,
     "access_denied: cancel"},
    {"SubcodeBeforeError", "app://auth/done?error_subcode=cancel&error=access_denied",
     Outcome::Error, "access_denied: cancel"},
    {"ErrorOnly", "app://auth/done?error=access_denied", Outcome::Error, "access_denied"},
    {"SubcodeOnly", "app://auth/done?error_subcode=cancel", Outcome::Success, ""},
    {"FirstErrorWins", "app://auth/done?error=a&error=b", Outcome::Error, "a"},
    {"ValueNotDecoded", "app://auth/done?error=a%20b", Outcome::Error, "a%20b"},
    {"KeysAreCaseSensitive", "app://auth/done?Error=x", Outcome::Success, ""},
    {"EmptyErrorPieceIsSkipped", "app://auth/done?error=", Outcome::Success, ""},
    {"ThreePartPieceIsSkipped", "app://auth/done?error=x=y", Outcome::Success, ""},
    {"EmptyErrorText", "app://auth/done?error==", Outcome::Error, ""},
    {"FragmentBelongsToTheValue", "app://auth/done?error=x#top", Outcome::Error, "x#top"},
    {"EmptyQuery", "app://auth/done?", Outcome::Success, ""},
    {"QueryOnlyAfterTheFirstQuestionMark", "app://auth/done?a=1?error=x", Outcome::Success, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, TryCompleteRedirect, testing::ValuesIn(kRedirectCases),
                         [](const testing::TestParamInfo<RedirectCase> &info) {
                             return std::string(info.param.name);
                         });

// Redirect URIs that hold escapes: both sides are compared decoded, so a URL that echoes the
// redirect URI exactly, or as the engine shows it, matches.
struct EscapedRedirectUriCase {
    const char *name;
    const char *redirectUri;
    const char *url;
    bool matches;
};

class EscapedRedirectUri : public testing::TestWithParam<EscapedRedirectUriCase>
{
};

TEST_P(EscapedRedirectUri, IsComparedDecoded)
{
    const EscapedRedirectUriCase &c = GetParam();
    HelperState state;
    NavigationWait wait;
    state.activeWait = &wait;
    state.redirectUri = c.redirectUri;

    EXPECT_EQ(tryCompleteRedirect(state, c.url), c.matches);
    if (c.matches) {
        EXPECT_EQ(wait.redirectUrl, c.url) << "the URL exactly as offered, not decoded";
    }
}

const EscapedRedirectUriCase kEscapedRedirectUriCases[] = {
    {"SpaceEchoedExactly", "http://127.0.0.1:8/auth%20done",
     "http://127.0.0.1:8/auth%20done?code=4", true},
    {"SpaceAsTheEngineShowsIt", "http://127.0.0.1:8/auth%20done",
     "http://127.0.0.1:8/auth done?code=4", true},
    {"SlashEchoedExactly", "app://cb/a%2Fb", "app://cb/a%2Fb?code=4", true},
    {"SlashDecodedInTheUrl", "app://cb/a%2Fb", "app://cb/a/b?code=4", true},
    {"LowerCaseEscape", "app://cb/a%2fb", "app://cb/a%2Fb?code=4", true},
    {"EscapeOfALetter", "app://c%62/done", "APP://CB/DONE", true},
    {"OtherPathStillDiffers", "http://127.0.0.1:8/auth%20done", "http://127.0.0.1:8/auth%20gone",
     false},
    {"MalformedEscapeKeptAsItIs", "app://cb/%zz", "app://cb/%zz?code=1", true},
    {"DecodesToNothingMatchesNothing", "%00app://cb", "https://idp.example/", false},
};

INSTANTIATE_TEST_SUITE_P(Table, EscapedRedirectUri, testing::ValuesIn(kEscapedRedirectUriCases),
                         [](const testing::TestParamInfo<EscapedRedirectUriCase> &info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// The parent-window string

struct ParentCase {
    const char *name;
    std::string text;
    ParentHandle::System system;
    std::uint32_t x11Window;
    std::string waylandHandle;
};

class ParentWindowString : public testing::TestWithParam<ParentCase>
{
};

TEST_P(ParentWindowString, NamesAParentOnlyWhenWellFormed)
{
    const ParentHandle parent = parseParentHandle(GetParam().text);
    EXPECT_EQ(parent.system, GetParam().system);
    EXPECT_EQ(parent.x11Window, GetParam().x11Window);
    EXPECT_EQ(parent.waylandHandle, GetParam().waylandHandle);
}

using System = ParentHandle::System;

const ParentCase kParentCases[] = {
    {"Empty", "", System::None, 0, ""},
    {"X11LowerCase", "x11:1a00003", System::X11, 0x1a00003, ""},
    {"X11UpperCaseDigits", "x11:1A00003", System::X11, 0x1a00003, ""},
    {"X11HexPrefix", "x11:0x400001", System::X11, 0x400001, ""},
    {"X11LeadingZeros", "x11:000000000000400001", System::X11, 0x400001, ""},
    {"X11HighestId", "x11:1fffffff", System::X11, 0x1fffffff, ""},
    {"X11BeyondTheIdBits", "x11:20000000", System::None, 0, ""},
    {"X11Beyond32Bits", "x11:100000001", System::None, 0, ""},
    {"X11Zero", "x11:0", System::None, 0, ""},
    {"X11NoDigits", "x11:", System::None, 0, ""},
    {"X11PrefixOnly", "x11:0x", System::None, 0, ""},
    {"X11NotHex", "x11:12g4", System::None, 0, ""},
    {"X11Decimal", "x11:-12", System::None, 0, ""},
    {"X11TrailingSpace", "x11:1a ", System::None, 0, ""},
    {"X11UpperCasePrefix", "X11:1a", System::None, 0, ""},
    {"LeadingSpace", " x11:1a", System::None, 0, ""},
    {"Wayland", "wayland:{5e1c1c14-7a52-4a3c-9c68-0d0f4b7e9a31}", System::Wayland, 0,
     "{5e1c1c14-7a52-4a3c-9c68-0d0f4b7e9a31}"},
    {"WaylandEmpty", "wayland:", System::None, 0, ""},
    {"WaylandMutterStyle", R"(wayland:o?A H81F*2$o:K(\5GSY"+qZL0[m aqo )", System::Wayland, 0,
     R"(o?A H81F*2$o:K(\5GSY"+qZL0[m aqo )"},
    {"WaylandControl", "wayland:a\tb", System::None, 0, ""},
    {"WaylandNul", std::string("wayland:a\0b", 11), System::None, 0, ""},
    {"WaylandNonAscii", "wayland:h\xc3\xa4ndle", System::None, 0, ""},
    {"WaylandLongest", "wayland:" + std::string(kMaxWaylandHandleBytes, 'h'), System::Wayland, 0,
     std::string(kMaxWaylandHandleBytes, 'h')},
    {"WaylandTooLong", "wayland:" + std::string(kMaxWaylandHandleBytes + 1, 'h'), System::None, 0,
     ""},
    {"OtherPrefix", "windows:1a", System::None, 0, ""},
    {"NoPrefix", "1a00003", System::None, 0, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, ParentWindowString, testing::ValuesIn(kParentCases),
                         [](const testing::TestParamInfo<ParentCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(FormPost, DecodesAnUrlEncodedBody)
{
    struct Case {
        const char *name;
        QByteArray body;
        FormFields fields;
    };
    const Case cases[] = {
        {"OAuth's fields", "code=Sp1x-abc&state=s%3D1", {{"code", "Sp1x-abc"}, {"state", "s=1"}}},
        {"plus is a space, %2B a plus", "q=a+b%2Bc", {{"q", "a b+c"}}},
        {"UTF-8 escapes", "name=J%C3%BCrgen", {{"name", "J\xc3\xbcrgen"}}},
        {"no value, empty value, empty pieces", "a&&b=&", {{"a", ""}, {"b", ""}}},
        {"an equals sign in the value", "t=a=b", {{"t", "a=b"}}},
        {"duplicates kept in order", "s=1&s=2", {{"s", "1"}, {"s", "2"}}},
        {"nothing", "", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parseUrlEncodedForm(c.body), c.fields) << c.name;
}

TEST(FormPost, OnlyASuccessCarriesTheForm)
{
    HelperState state;
    NavigationWait wait;
    state.redirectUri = kRedirectUri;
    state.activeWait = &wait;
    EXPECT_TRUE(tryCompleteRedirect(state, "app://auth/done?error=access_denied",
                                    FormFields{{"code", "1"}}));
    EXPECT_FALSE(wait.success);
    EXPECT_FALSE(wait.form.has_value());

    NavigationWait next;
    state.activeWait = &next;
    EXPECT_TRUE(tryCompleteRedirect(state, "app://auth/done", FormFields{{"code", "1"}}));
    EXPECT_TRUE(next.success);
    EXPECT_EQ(next.form, (FormFields{{"code", "1"}}));
}

TEST(RedirectWithoutRequest, ALateRedirectIsStaleAndCompletesNothing)
{
    // A page that reaches the last redirect URI after its request ended carries a live code: the
    // window must refuse it even though nobody waits for it any more.
    HelperState state;
    state.redirectUri = kRedirectUri;
    EXPECT_FALSE(tryCompleteRedirect(state, "app://auth/done?code=1"));
    EXPECT_EQ(recogniseRedirect(state, "app://auth/done?code=1"), RedirectMatch::Stale);
    EXPECT_EQ(recogniseRedirect(state, "APP://AUTH/DONE"), RedirectMatch::Stale);
    EXPECT_EQ(recogniseRedirect(state, "https://idp.example/next"), RedirectMatch::None);
    EXPECT_EQ(recogniseRedirect(state, "app://auth/don"), RedirectMatch::None);
    EXPECT_EQ(state.activeWait, nullptr);
    EXPECT_EQ(state.redirectUri, kRedirectUri);
}

TEST(RedirectWithoutRequest, NothingMatchesAnEmptyRedirectUri)
{
    HelperState state;
    NavigationWait wait;
    state.activeWait = &wait;
    for (const char *url : {"", "app://auth/done", "https://idp.example/"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(tryCompleteRedirect(state, url));
        EXPECT_EQ(recogniseRedirect(state, url), RedirectMatch::None);
    }
    EXPECT_FALSE(wait.done);
    EXPECT_EQ(state.activeWait, &wait);
}

TEST(RedirectWithoutRequest, OnlyTheFirstMatchingUrlCompletes)
{
    HelperState state;
    NavigationWait wait;
    state.activeWait = &wait;
    state.redirectUri = kRedirectUri;
    EXPECT_EQ(recogniseRedirect(state, "app://auth/done?code=first"), RedirectMatch::Completed);
    EXPECT_FALSE(tryCompleteRedirect(state, "app://auth/done?error=second"));
    {
        // A window close right after the redirect finds nothing to complete either.
        std::lock_guard<std::mutex> lock(state.mutex);
        state.completeNavigation(false, std::string(), "user_cancelled");
    }
    EXPECT_TRUE(wait.success);
    EXPECT_EQ(wait.redirectUrl, "app://auth/done?code=first");
    EXPECT_EQ(wait.message, "");
}

// ---------------------------------------------------------------------------------------------
// completeNavigation

TEST(CompleteNavigation, WithNoWaitInFlightChangesNothing)
{
    HelperState state;
    state.redirectUri = kRedirectUri;
    state.defaultUserAgent = "Agent/1";
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.completeNavigation(true, "app://auth/done?code=1", "m");
    }
    EXPECT_EQ(state.activeWait, nullptr);
    EXPECT_EQ(state.redirectUri, kRedirectUri);
    EXPECT_EQ(state.window, nullptr);
    EXPECT_EQ(state.defaultUserAgent, "Agent/1");
}

TEST(CompleteNavigation, FillsTheWaitWithCopiesAndWithdrawsIt)
{
    HelperState state;
    NavigationWait wait;
    state.activeWait = &wait;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.completeNavigation(false, std::string("url"), std::string("gone"));
    }
    EXPECT_TRUE(wait.done);
    EXPECT_FALSE(wait.success);
    EXPECT_EQ(wait.redirectUrl, "url");
    EXPECT_EQ(wait.message, "gone");
    EXPECT_EQ(state.activeWait, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Completions racing the time limit

// The reply lines written so far, one string each, without their newlines.
std::vector<std::string> replyLines(const MemoryFile &out)
{
    std::vector<std::string> lines;
    std::istringstream stream(out.contents());
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// "ok", "timeout" or the error message of one reply; "" when the line holds neither or its id
// is not `id`.
std::string outcomeOf(const std::string &line, std::int64_t id)
{
    const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    if (reply.value(QStringLiteral("id")).toInteger(-1) != id)
        return std::string();
    if (reply.contains(QStringLiteral("result")))
        return reply.value(QStringLiteral("result"))
            .toObject()
            .value(QStringLiteral("status"))
            .toString()
            .toStdString();
    return reply.value(QStringLiteral("error"))
        .toObject()
        .value(QStringLiteral("message"))
        .toString()
        .toStdString();
}

TEST(TimedWait, WakeUpsWithoutACompletionDoNotEndTheWaitEarly)
{
    HelperState state;
    FakeGui gui;
    MemoryFile out;
    testsupport::ChannelScope channels(-1, out.fd);
    std::atomic<bool> answered{false};
    gui.onOpen = [&gui, &answered](HelperState &s, const SignInPage &) {
        gui.startWindowThread([&s, &answered] {
            while (!answered) {
                {
                    std::lock_guard<std::mutex> lock(s.mutex);
                    if (s.activeWait != nullptr)
                        s.activeWait->condition.notify_all();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    };
    const auto start = std::chrono::steady_clock::now();
    testsupport::runWithin(
        [&] {
            handleNavigate(
                state, gui.calls(), 4,
                QJsonDocument::fromJson(R"({"redirect_uri":"x","timeout_ms":100})").object());
        },
        std::chrono::seconds(10), "a navigate woken without a completion");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    answered = true;
    gui.joinWindowThreads();
    EXPECT_EQ(out.contents(), R"({"error":{"code":1,"message":"timeout"},"id":4,"jsonrpc":"2.0"}
)");
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
}

TEST(TimedWait, ACompletionRacingTheDeadlineGivesExactlyOneReply)
{
    HelperState state;
    FakeGui gui;
    MemoryFile out;
    testsupport::ChannelScope channels(-1, out.fd);
    std::minstd_rand random(12345);
    std::atomic<unsigned> delayMicroseconds{0};
    gui.onOpen = [&gui, &delayMicroseconds](HelperState &s, const SignInPage &) {
        const unsigned delay = delayMicroseconds;
        gui.startWindowThread([&gui, &s, delay] {
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            gui.recordRedirectResult(tryCompleteRedirect(s, "app://auth/done?code=1"));
        });
    };
    const QJsonObject params
        = QJsonDocument::fromJson(R"({"redirect_uri":"app://auth/done","timeout_ms":1})").object();

    constexpr int kRounds = 300;
    int timeouts = 0;
    for (int round = 0; round < kRounds; ++round) {
        delayMicroseconds = static_cast<unsigned>(random() % 1500);
        testsupport::runWithin([&] { handleNavigate(state, gui.calls(), round, params); },
                               std::chrono::seconds(10), "a navigate with timeout_ms 1");
        gui.joinWindowThreads();
        const std::vector<std::string> lines = replyLines(out);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(round + 1));
        const std::string outcome = outcomeOf(lines.back(), round);
        ASSERT_TRUE(outcome == "ok" || outcome == "timeout") << lines.back();
        // A redirect that was recognised has been refused: it must be answered, never lost.
        ASSERT_EQ(outcome == "ok", gui.redirectResults().back()) << lines.back();
        if (outcome == "timeout")
            ++timeouts;
        ASSERT_EQ(state.activeWait, nullptr);
    }
    std::printf("%d of %d rounds timed out\n", timeouts, kRounds);
}

// The deadline passes while a completer holds the shared lock; its completion lands after the
// timed wait has ended but before the wait is withdrawn. The refused redirect carries the
// authorisation code, so the answer is the completion, not "timeout".
TEST(TimedWait, ACompletionAfterTheDeadlineButBeforeTheWithdrawalIsAnswered)
{
    HelperState state;
    FakeGui gui;
    MemoryFile out;
    testsupport::ChannelScope channels(-1, out.fd);
    gui.onOpen = [&gui](HelperState &s, const SignInPage &) {
        gui.startWindowThread([&s] {
            std::lock_guard<std::mutex> lock(s.mutex);
            // Well past the 20 ms limit: the command thread has timed out and now waits for
            // this lock to withdraw its wait.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            s.completeNavigation(true, "app://auth/done?code=late", std::string());
        });
    };
    testsupport::runWithin(
        [&] {
            handleNavigate(
                state, gui.calls(), 9,
                QJsonDocument::fromJson(R"({"redirect_uri":"app://auth/done","timeout_ms":20})")
                    .object());
        },
        std::chrono::seconds(10), "a navigate completed after its deadline");
    gui.joinWindowThreads();
    EXPECT_EQ(
        out.contents(),
        R"({"id":9,"jsonrpc":"2.0","result":{"redirect_url":"app://auth/done?code=late","status":"ok"}}
)");
    EXPECT_EQ(state.activeWait, nullptr);
}

// Thousands of sign-ins, each raced by its deadline, a redirect, a provider error and a window
// close coming from three other threads. Every request must be answered once, in order, and no
// wait may be completed twice or touched after it was withdrawn (ThreadSanitizer watches).
TEST(TimedWait, StressManyCompletersAgainstTheDeadline)
{
    HelperState state;
    MemoryFile out;
    testsupport::ChannelScope channels(-1, out.fd);
    int opens = 0;
    int hides = 0;
    GuiCalls gui;
    gui.postOpenSignInWindow = [&opens](HelperState *, const SignInPage &) { ++opens; };
    gui.postHideSignInWindow = [&hides](HelperState *) { ++hides; };
    gui.postQuitApplication = [](HelperState *) {};

    std::atomic<bool> stop{false};
    std::atomic<int> completions{0};
    auto completer = [&](unsigned seed, auto complete) {
        return std::thread([&, seed, complete] {
            std::minstd_rand random(seed);
            while (!stop) {
                if (complete())
                    ++completions;
                // Up to 3 ms: some waits end by their 1 ms deadline, some by a completer.
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            }
        });
    };
    std::vector<std::thread> completers;
    completers.push_back(
        completer(1, [&state] { return tryCompleteRedirect(state, "app://auth/done?code=1"); }));
    completers.push_back(completer(
        2, [&state] { return tryCompleteRedirect(state, "app://auth/done?error=denied"); }));
    completers.push_back(completer(3, [&state] {
        std::lock_guard<std::mutex> lock(state.mutex);
        const bool inFlight = state.activeWait != nullptr;
        state.completeNavigation(false, std::string(), "user_cancelled");
        return inFlight;
    }));

    const QJsonObject params
        = QJsonDocument::fromJson(R"({"redirect_uri":"app://auth/done","timeout_ms":1})").object();
    constexpr int kRequests = 2000;
    testsupport::runWithin(
        [&] {
            for (int id = 0; id < kRequests; ++id)
                handleNavigate(state, gui, id, params);
        },
        std::chrono::seconds(25), "the stressed navigate requests");
    stop = true;
    for (std::thread &thread : completers)
        thread.join();

    const std::vector<std::string> lines = replyLines(out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRequests));
    std::map<std::string, int> outcomes;
    for (int id = 0; id < kRequests; ++id) {
        const std::string outcome = outcomeOf(lines[static_cast<std::size_t>(id)], id);
        ASSERT_TRUE(outcome == "ok" || outcome == "denied" || outcome == "user_cancelled"
                    || outcome == "timeout")
            << lines[static_cast<std::size_t>(id)];
        ++outcomes[outcome];
    }
    EXPECT_EQ(opens, kRequests);
    EXPECT_EQ(hides, kRequests);
    EXPECT_EQ(state.activeWait, nullptr);
    // Each wait is completed at most once, and each answer other than a timeout had a completion.
    EXPECT_LE(completions.load(), kRequests);
    EXPECT_GE(completions.load(), kRequests - outcomes["timeout"]);
    for (const auto &[outcome, count] : outcomes)
        std::printf("%s: %d\n", outcome.c_str(), count);
}

} // namespace
