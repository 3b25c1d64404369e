// Kept sessions: which names are taken, where and how they are kept on disk (private whatever
// the umask, one helper at a time), and the channel's "session", "silent" and forget.
#include "channel/guicalls.h"
#include "signin/helperstate.h"
#include "signin/sessionname.h"
#include "signin/sessionstore.h"
#include "signin/silentsignin.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::FakeGui;
using testsupport::runSession;

namespace {

// ---- Names -----------------------------------------------------------------------------------

struct NameCase {
    const char *label;
    std::string name;
    bool valid;
};

const NameCase kNameCases[] = {
    {"Plain", "work", true},
    {"AllAllowedCharacters", "Alice.Smith_2-x@corp+1", true},
    {"SixtyFourBytes", std::string(64, 'a'), true},
    {"Empty", "", false},
    {"Dot", ".", false},
    {"DotDot", "..", false},
    {"Hidden", ".profile", false},
    {"OptionLike", "-rf", false},
    {"Slash", "a/b", false},
    {"ParentPath", "../x", false},
    {"Backslash", "a\\b", false},
    {"Space", "a b", false},
    {"Newline", "a\nb", false},
    {"Tab", "a\tb", false},
    {"Delete", "a\x7f", false},
    {"Nul", std::string("a\0b", 3), false},
    {"NonAscii", "k\xc3\xa4se", false},
    {"SixtyFiveBytes", std::string(65, 'a'), false},
};

class SessionName : public testing::TestWithParam<NameCase>
{
};

TEST_P(SessionName, IsTakenOnlyWhenItIsOneSafeFolderName)
{
    EXPECT_EQ(isValidSessionName(GetParam().name), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Table, SessionName, testing::ValuesIn(kNameCases),
                         [](const testing::TestParamInfo<NameCase> &info) {
                             return std::string(info.param.label);
                         });

TEST(HelperDataFolder, FollowsXdgDataHomeThenHomeAndIgnoresRelativePaths)
{
    EXPECT_EQ(helperDataFolder("/x/data", "/home/u"), "/x/data/corvane-tavisk");
    EXPECT_EQ(helperDataFolder(nullptr, "/home/u"), "/home/u/.local/share/corvane-tavisk");
    EXPECT_EQ(helperDataFolder("", "/home/u"), "/home/u/.local/share/corvane-tavisk");
    EXPECT_EQ(helperDataFolder("data", "/home/u"), "/home/u/.local/share/corvane-tavisk");
    EXPECT_EQ(helperDataFolder(nullptr, "home"), "");
    EXPECT_EQ(helperDataFolder(nullptr, nullptr), "");
}

// ---- On disk ---------------------------------------------------------------------------------

int removeEntry(const char *path, const struct stat *, int, FTW *)
{
    return remove(path);
}

// A temporary folder, deleted with everything in it; the umask is 0 while it lives, so that
// every mode seen is the one the code chose.
class Scratch
{
public:
    Scratch()
    {
        oldMask = umask(0);
        char pattern[] = "/tmp/tavisk-sessions-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~Scratch()
    {
        nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
        umask(oldMask);
    }
    std::string data() const { return path + "/data/corvane-tavisk"; }

    std::string path;
    mode_t oldMask = 0;
};

mode_t modeOf(const std::string &path)
{
    struct stat info {
    };
    if (lstat(path.c_str(), &info) != 0)
        return 01000000; // no such path
    return info.st_mode & 07777;
}

bool exists(const std::string &path)
{
    struct stat info {
    };
    return lstat(path.c_str(), &info) == 0;
}

void writeFile(const std::string &path, mode_t mode)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, "x", 1), 1);
    close(fd);
}

TEST(SessionStore, AClaimMakesPrivateFoldersAndLockWhateverTheUmask)
{
    Scratch scratch;
    // A data folder that an older run, or the person, left open to others is closed again.
    ASSERT_EQ(mkdir((scratch.path + "/data").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(scratch.data().c_str(), 0755), 0);
    SessionRegistry sessions(scratch.data());
    ASSERT_EQ(sessions.claim("work"), SessionRegistry::Claim::Claimed);
    EXPECT_EQ(modeOf(scratch.data()), 0700u);
    EXPECT_EQ(modeOf(scratch.data() + "/sessions"), 0700u);
    EXPECT_EQ(modeOf(scratch.data() + "/sessions/work"), 0700u);
    EXPECT_EQ(modeOf(scratch.data() + "/sessions/work.lock"), 0600u);
    EXPECT_EQ(modeOf(scratch.path + "/data"), 0755u) << "the user's XDG folder is theirs";
    // What the engine writes afterwards is private from the first byte.
    writeFile(scratch.data() + "/sessions/work/Cookies", 0644);
    EXPECT_EQ(modeOf(scratch.data() + "/sessions/work/Cookies"), 0600u);
}

TEST(SessionStore, MissingXdgFoldersAreMadeUserOnly)
{
    Scratch scratch;
    SessionRegistry sessions(scratch.path + "/a/b/corvane-tavisk");
    ASSERT_EQ(sessions.claim("work"), SessionRegistry::Claim::Claimed);
    EXPECT_EQ(modeOf(scratch.path + "/a"), 0700u);
    EXPECT_EQ(modeOf(scratch.path + "/a/b"), 0700u);
}

TEST(SessionStore, OneHelperAtATimeAndTheSessionServesAgainAfterwards)
{
    Scratch scratch;
    auto first = std::make_unique<SessionRegistry>(scratch.data());
    SessionRegistry second(scratch.data());
    ASSERT_EQ(first->claim("work"), SessionRegistry::Claim::Claimed);
    EXPECT_EQ(first->claim("work"), SessionRegistry::Claim::Claimed) << "claimed once per run";
    EXPECT_EQ(second.claim("work"), SessionRegistry::Claim::InUse);
    EXPECT_EQ(second.claim("home"), SessionRegistry::Claim::Claimed) << "sessions are separate";
    EXPECT_EQ(second.forget("work"), SessionRegistry::Forget::InUse);
    EXPECT_TRUE(exists(scratch.data() + "/sessions/work"));
    first.reset(); // the first helper ends
    EXPECT_EQ(second.claim("work"), SessionRegistry::Claim::Claimed);
}

TEST(SessionStore, ForgetDeletesEverythingOfTheSessionAndNothingElse)
{
    Scratch scratch;
    {
        SessionRegistry earlier(scratch.data());
        ASSERT_EQ(earlier.claim("work"), SessionRegistry::Claim::Claimed);
        ASSERT_EQ(earlier.claim("home"), SessionRegistry::Claim::Claimed);
        const std::string work = scratch.data() + "/sessions/work";
        ASSERT_EQ(mkdir((work + "/Local Storage").c_str(), 0700), 0);
        writeFile(work + "/Local Storage/000003.log", 0600);
        writeFile(work + "/Cookies", 0600);
        ASSERT_EQ(symlink("/etc/passwd", (work + "/link").c_str()), 0);
    }
    SessionRegistry sessions(scratch.data());
    EXPECT_EQ(sessions.forget("work"), SessionRegistry::Forget::Forgotten);
    EXPECT_FALSE(exists(scratch.data() + "/sessions/work"));
    EXPECT_FALSE(exists(scratch.data() + "/sessions/work.lock"));
    EXPECT_TRUE(exists("/etc/passwd")) << "a link is removed, never followed";
    EXPECT_TRUE(exists(scratch.data() + "/sessions/home"));
    EXPECT_EQ(sessions.forget("work"), SessionRegistry::Forget::Forgotten) << "again: nothing";
    EXPECT_EQ(sessions.claim("work"), SessionRegistry::Claim::Claimed) << "and it can start over";
}

TEST(SessionStore, ForgettingASessionInUseHereIsRefused)
{
    Scratch scratch;
    SessionRegistry sessions(scratch.data());
    ASSERT_EQ(sessions.claim("work"), SessionRegistry::Claim::Claimed);
    EXPECT_EQ(sessions.forget("work"), SessionRegistry::Forget::InUse);
    EXPECT_TRUE(exists(scratch.data() + "/sessions/work"));
}

TEST(SessionStore, ForgettingWhatNeverExistedMakesNothing)
{
    Scratch scratch;
    SessionRegistry sessions(scratch.data());
    EXPECT_EQ(sessions.forget("work"), SessionRegistry::Forget::Forgotten);
    EXPECT_FALSE(exists(scratch.path + "/data"));
}

TEST(SessionStore, NoUsableDataFolderMakesSessionsUnavailable)
{
    Scratch scratch;
    SessionRegistry none{std::string()};
    EXPECT_EQ(none.claim("work"), SessionRegistry::Claim::Unavailable);
    EXPECT_EQ(none.forget("work"), SessionRegistry::Forget::Unavailable);
    writeFile(scratch.path + "/file", 0600);
    SessionRegistry blocked(scratch.path + "/file/corvane-tavisk");
    EXPECT_EQ(blocked.claim("work"), SessionRegistry::Claim::Unavailable);
}

TEST(SessionStore, MakePrivateTakesGroupAndOtherBitsOffEverythingBelow)
{
    Scratch scratch;
    const std::string top = scratch.path + "/top";
    ASSERT_EQ(mkdir(top.c_str(), 0777), 0);
    ASSERT_EQ(mkdir((top + "/sub").c_str(), 0755), 0);
    writeFile(top + "/sub/file", 0666);
    writeFile(top + "/script", 0755);
    writeFile(scratch.path + "/outside", 0644);
    ASSERT_EQ(symlink("../outside", (top + "/link").c_str()), 0);
    EXPECT_TRUE(makePrivate(top));
    EXPECT_EQ(modeOf(top), 0700u);
    EXPECT_EQ(modeOf(top + "/sub"), 0700u);
    EXPECT_EQ(modeOf(top + "/sub/file"), 0600u);
    EXPECT_EQ(modeOf(top + "/script"), 0700u);
    EXPECT_EQ(modeOf(scratch.path + "/outside"), 0644u) << "a link's target is not ours";
}

// ---- The channel -----------------------------------------------------------------------------

// A helper state whose sessions live in a scratch folder.
struct SessionHelper {
    Scratch scratch;
    SessionRegistry sessions{scratch.data()};
    HelperState state;
    FakeGui gui;
    SessionHelper() { state.sessions = &sessions; }
};

std::string navigateWithSession(const std::string &sessionJson)
{
    return R"({"id":3,"method":"navigate","params":{"redirect_uri":"app://done","session":)"
        + sessionJson + "}}\n";
}

TEST(SessionChannel, UnusableNamesAreRefusedBeforeAnythingIsShownOrMade)
{
    for (const char *session : {R"("")", R"(".")", R"("..")", R"("a/b")", R"("../../etc")",
                                R"("a\u0007b")", R"("a\nb")", "5", "null", "true"}) {
        SessionHelper helper;
        EXPECT_EQ(runSession(navigateWithSession(session), helper.state, helper.gui),
                  R"({"error":{"code":1,"message":"invalid_session_name"},"id":3,"jsonrpc":"2.0"}
)") << session;
        EXPECT_EQ(helper.gui.events(), std::vector<std::string>{"quit"}) << session;
        EXPECT_FALSE(exists(helper.scratch.path + "/data")) << session;
    }
}

TEST(SessionChannel, ANamedSessionIsClaimedAndItsFolderHandedToTheWindow)
{
    SessionHelper helper;
    helper.gui.onOpen = testsupport::offerRedirectLater(helper.gui, "app://done?code=1");
    EXPECT_EQ(
        runSession(
            navigateWithSession(R"("work")")
                + R"({"id":4,"method":"navigate","params":{"redirect_uri":"app://done","silent":true}}
)",
            helper.state, helper.gui),
        R"({"id":3,"jsonrpc":"2.0","result":{"redirect_url":"app://done?code=1","status":"ok"}}
{"id":4,"jsonrpc":"2.0","result":{"redirect_url":"app://done?code=1","status":"ok"}}
)");
    const std::vector<SignInPage> pages = helper.gui.pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].session, "work");
    EXPECT_EQ(pages[0].sessionFolder, helper.scratch.data() + "/sessions/work");
    EXPECT_FALSE(pages[0].silent);
    EXPECT_EQ(pages[1].session, "") << "no session named: the run's own profile";
    EXPECT_EQ(pages[1].sessionFolder, "");
    EXPECT_TRUE(pages[1].silent);
    SessionRegistry other(helper.scratch.data());
    EXPECT_EQ(other.claim("work"), SessionRegistry::Claim::InUse) << "held for the run";
}

TEST(SessionChannel, ASessionAnotherHelperUsesIsRefused)
{
    SessionHelper helper;
    SessionRegistry other(helper.scratch.data());
    ASSERT_EQ(other.claim("work"), SessionRegistry::Claim::Claimed);
    EXPECT_EQ(runSession(navigateWithSession(R"("work")"), helper.state, helper.gui),
              R"({"error":{"code":1,"message":"session_in_use"},"id":3,"jsonrpc":"2.0"}
)");
    EXPECT_EQ(helper.gui.events(), std::vector<std::string>{"quit"});
}

TEST(SessionChannel, ForgetAnswersOnceTheSessionIsGoneAndRefusesOneInUse)
{
    SessionHelper helper;
    {
        SessionRegistry earlier(helper.scratch.data());
        ASSERT_EQ(earlier.claim("old"), SessionRegistry::Claim::Claimed);
    }
    helper.gui.onOpen = testsupport::offerRedirectLater(helper.gui, "app://done");
    EXPECT_EQ(runSession(R"({"id":1,"method":"forget","params":{"session":"old"}}
{"id":2,"method":"forget","params":{"session":"never"}}
)" + navigateWithSession(R"("work")")
                             + R"({"id":5,"method":"forget","params":{"session":"work"}}
{"id":6,"method":"forget","params":{"session":"../x"}}
{"id":7,"method":"forget","params":{}}
{"id":8,"method":"forget"}
)",
                         helper.state, helper.gui),
              R"({"id":1,"jsonrpc":"2.0","result":null}
{"id":2,"jsonrpc":"2.0","result":null}
{"id":3,"jsonrpc":"2.0","result":{"redirect_url":"app://done","status":"ok"}}
{"error":{"code":1,"message":"session_in_use"},"id":5,"jsonrpc":"2.0"}
{"error":{"code":1,"message":"invalid_session_name"},"id":6,"jsonrpc":"2.0"}
{"error":{"code":1,"message":"invalid_session_name"},"id":7,"jsonrpc":"2.0"}
{"error":{"code":1,"message":"invalid_session_name"},"id":8,"jsonrpc":"2.0"}
)");
    EXPECT_FALSE(exists(helper.scratch.data() + "/sessions/old"));
    EXPECT_TRUE(exists(helper.scratch.data() + "/sessions/work"));
}

TEST(SessionChannel, WithoutADataFolderSessionsAreUnavailable)
{
    HelperState state; // no registry: neither HOME nor XDG_DATA_HOME was usable
    FakeGui gui;
    EXPECT_EQ(runSession(navigateWithSession(R"("work")")
                             + R"({"id":4,"method":"forget","params":{"session":"work"}}
)",
                         state, gui),
              R"({"error":{"code":1,"message":"session_unavailable"},"id":3,"jsonrpc":"2.0"}
{"error":{"code":1,"message":"session_unavailable"},"id":4,"jsonrpc":"2.0"}
)");
}

// ---- Silent sign-ins -------------------------------------------------------------------------

std::string silentNavigate(const char *silent)
{
    return std::string(
               R"({"id":1,"method":"navigate","params":{"redirect_uri":"app://done","silent":)")
        + silent + "}}\n";
}

TEST(SilentSignIn, WhatNeedsAPersonEndsItWithTheReasonAsData)
{
    HelperState state;
    FakeGui gui;
    std::vector<bool> declined;
    gui.onOpen = [&declined, &gui](HelperState &state, const SignInPage &) {
        gui.startWindowThread([&state, &declined] {
            declined.push_back(endSilentSignIn(state, "dialog"));
            declined.push_back(endSilentSignIn(state, "credentials")); // after the end: declined
        });
    };
    EXPECT_EQ(
        runSession(silentNavigate("true"), state, gui),
        R"({"error":{"code":1,"data":{"reason":"dialog"},"message":"interaction_required"},"id":1,"jsonrpc":"2.0"}
)");
    EXPECT_EQ(declined, (std::vector<bool>{true, true}));
}

TEST(SilentSignIn, AFailedLoadIsNamedInTheReply)
{
    HelperState state;
    FakeGui gui;
    gui.onOpen = [&gui](HelperState &state, const SignInPage &) {
        gui.startWindowThread(
            [&state] { endSilentSignInOnLoadFailure(state, "ERR_TOO_MANY_REDIRECTS"); });
    };
    EXPECT_EQ(
        runSession(silentNavigate("true"), state, gui),
        R"({"error":{"code":1,"data":{"error":"ERR_TOO_MANY_REDIRECTS","reason":"load_failed"},"message":"interaction_required"},"id":1,"jsonrpc":"2.0"}
)");
}

TEST(SilentSignIn, ASignInWithAWindowMayAskAndGoesOn)
{
    // "silent" must be JSON true; anything else is a sign-in with a window.
    for (const char *silent : {"false", "1", R"("true")"}) {
        HelperState state;
        FakeGui gui;
        std::vector<bool> declined;
        gui.onOpen = [&declined, &gui](HelperState &state, const SignInPage &) {
            gui.startWindowThread([&state, &declined] {
                declined.push_back(endSilentSignIn(state, "dialog"));
                endSilentSignInOnLoadFailure(state, "ERR_TOO_MANY_REDIRECTS");
                std::lock_guard<std::mutex> lock(state.mutex);
                state.completeNavigation(false, std::string(), "user_cancelled");
            });
        };
        EXPECT_EQ(runSession(silentNavigate(silent), state, gui),
                  R"({"error":{"code":1,"message":"user_cancelled"},"id":1,"jsonrpc":"2.0"}
)") << silent;
        EXPECT_EQ(declined, std::vector<bool>{false}) << silent;
    }
}

} // namespace
