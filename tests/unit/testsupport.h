// Shared pieces of the unit tests: channels made of pipes and in-memory files, a stand-in for
// the GUI thread that records what the command thread posts, and bounded runs of the command
// loop.
#pragma once

#include "channel/guicalls.h"
#include "platform/handles.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

struct HelperState;

namespace testsupport {

// A pipe whose ends close with it.
struct Pipe {
    int readFd = -1;
    int writeFd = -1;

    Pipe();
    ~Pipe();
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;

    void closeRead();
    void closeWrite();
    // Writes all of `bytes`; false on a failed write.
    bool writeAll(const std::string &bytes) const;
};

// An anonymous in-memory file: a channel whose reads end at its end and whose writes never block.
struct MemoryFile {
    int fd = -1;

    explicit MemoryFile(const std::string &contents = std::string());
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    // Everything written to the file so far.
    std::string contents() const;
};

// Points cmdInHandle and cmdOutHandle at two descriptors for one test and clears them after.
class ChannelScope
{
public:
    ChannelScope(int inFd, int outFd);
    ~ChannelScope();
    ChannelScope(const ChannelScope &) = delete;
    ChannelScope &operator=(const ChannelScope &) = delete;
};

// Runs `body` on a thread of its own and waits at most `limit` for it. A body that is still
// running then means the code under test hangs: the test process is ended with a message,
// since the thread cannot be stopped and its frame would be torn down under it.
void runWithin(const std::function<void()> &body, std::chrono::milliseconds limit,
               const char *what);

// Polls until the thread `tid` of this process sleeps in the system call `number`, for at most
// `limit`. False when it never does.
bool waitUntilInSyscall(pid_t tid, long number, std::chrono::milliseconds limit);

// The GUI thread as the command thread sees it: every posted call is recorded, and an open
// request plays the sign-in window through `onOpen` (which may complete the wait at once, or
// start a window thread with startWindowThread to complete it a moment later).
class FakeGui
{
public:
    FakeGui();
    ~FakeGui();
    FakeGui(const FakeGui &) = delete;
    FakeGui &operator=(const FakeGui &) = delete;

    // What the command thread is given.
    const GuiCalls &calls() const { return m_calls; }

    // Runs inside postOpenSignInWindow, on the command thread.
    std::function<void(HelperState &, const SignInPage &)> onOpen;

    // A thread standing in for the GUI thread's window; joined by joinWindowThreads and at the
    // latest by the destructor.
    void startWindowThread(std::function<void()> body);
    void joinWindowThreads();

    // "open", "hide" and "quit" in the order posted.
    std::vector<std::string> events() const;
    std::vector<SignInPage> pages() const;
    // The results of every redirect the window offered (see offerRedirectLater).
    std::vector<bool> redirectResults() const;
    void recordRedirectResult(bool completed);

private:
    void record(const char *event);

    GuiCalls m_calls;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_events;
    std::vector<SignInPage> m_pages;
    std::vector<bool> m_redirectResults;
    std::vector<std::thread> m_windowThreads;
};

// Window behaviours for FakeGui::onOpen.
// The window is sent to `url` a short moment after it opened, on a window thread.
std::function<void(HelperState &, const SignInPage &)> offerRedirectLater(FakeGui &gui,
                                                                          std::string url);
// The window is sent to `url` while the open request is being posted, before the wait starts.
std::function<void(HelperState &, const SignInPage &)> offerRedirectAtOnce(FakeGui &gui,
                                                                           std::string url);
// The user closes the window a short moment after it opened.
std::function<void(HelperState &, const SignInPage &)> closeLater(FakeGui &gui);

// Runs commandLoop over `input`, read from an in-memory file, and returns every byte it wrote.
std::string runSession(const std::string &input, HelperState &state, FakeGui &gui);

} // namespace testsupport
