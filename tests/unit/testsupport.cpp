#include "testsupport.h"

#include "channel/commandloop.h"
#include "channel/replies.h"
#include "signin/helperstate.h"
#include "signin/redirect.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sys/mman.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Long enough for a window to open, short enough that the wait is already asleep.
constexpr std::chrono::milliseconds kWindowMoment{20};

void closeOnce(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

Pipe::Pipe()
{
    int fds[2];
    if (::pipe(fds) != 0) {
        std::perror("pipe");
        std::abort();
    }
    readFd = fds[0];
    writeFd = fds[1];
}

Pipe::~Pipe()
{
    closeRead();
    closeWrite();
}

void Pipe::closeRead()
{
    closeOnce(readFd);
}

void Pipe::closeWrite()
{
    closeOnce(writeFd);
}

bool Pipe::writeAll(const std::string &bytes) const
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(writeFd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

MemoryFile::MemoryFile(const std::string &contents)
{
    fd = ::memfd_create("tavisk-test", MFD_CLOEXEC);
    if (fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    if (!contents.empty()
        && ::write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size())) {
        std::perror("write");
        std::abort();
    }
    ::lseek(fd, 0, SEEK_SET);
}

MemoryFile::~MemoryFile()
{
    closeOnce(fd);
}

std::string MemoryFile::contents() const
{
    std::string all;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return all;
        all.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

ChannelScope::ChannelScope(int inFd, int outFd)
{
    cmdInHandle = platform::handleFromDescriptor(inFd);
    cmdOutHandle = platform::handleFromDescriptor(outFd);
}

ChannelScope::~ChannelScope()
{
    cmdInHandle = nullptr;
    cmdOutHandle = nullptr;
}

void runWithin(const std::function<void()> &body, std::chrono::milliseconds limit, const char *what)
{
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread runner([&body, &finished] {
        body();
        finished.set_value();
    });
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not end within %lld ms\n", what,
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    runner.join();
}

bool waitUntilInSyscall(pid_t tid, long number, std::chrono::milliseconds limit)
{
    const std::string path
        = "/proc/self/task/" + std::to_string(static_cast<long>(tid)) + "/syscall";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream file(path);
        long current = -1;
        if (file >> current && current == number)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

FakeGui::FakeGui()
{
    m_calls.postOpenSignInWindow = [this](HelperState *state, const SignInPage &page) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.emplace_back("open");
            m_pages.push_back(page);
        }
        if (onOpen)
            onOpen(*state, page);
    };
    m_calls.postHideSignInWindow = [this](HelperState *) { record("hide"); };
    m_calls.postQuitApplication = [this](HelperState *) { record("quit"); };
}

FakeGui::~FakeGui()
{
    joinWindowThreads();
}

void FakeGui::startWindowThread(std::function<void()> body)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_windowThreads.emplace_back(std::move(body));
}

void FakeGui::joinWindowThreads()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_windowThreads);
    }
    for (std::thread &thread : threads)
        thread.join();
}

std::vector<std::string> FakeGui::events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<SignInPage> FakeGui::pages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pages;
}

std::vector<bool> FakeGui::redirectResults() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_redirectResults;
}

void FakeGui::recordRedirectResult(bool completed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_redirectResults.push_back(completed);
}

void FakeGui::record(const char *event)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.emplace_back(event);
}

std::function<void(HelperState &, const SignInPage &)> offerRedirectLater(FakeGui &gui,
                                                                          std::string url)
{
    return [&gui, url](HelperState &state, const SignInPage &) {
        gui.startWindowThread([&gui, &state, url] {
            std::this_thread::sleep_for(kWindowMoment);
            gui.recordRedirectResult(tryCompleteRedirect(state, url));
        });
    };
}

std::function<void(HelperState &, const SignInPage &)> offerRedirectAtOnce(FakeGui &gui,
                                                                           std::string url)
{
    return [&gui, url](HelperState &state, const SignInPage &) {
        gui.recordRedirectResult(tryCompleteRedirect(state, url));
    };
}

std::function<void(HelperState &, const SignInPage &)> closeLater(FakeGui &gui)
{
    return [&gui](HelperState &state, const SignInPage &) {
        gui.startWindowThread([&state] {
            std::this_thread::sleep_for(kWindowMoment);
            std::lock_guard<std::mutex> lock(state.mutex);
            state.completeNavigation(false, std::string(), "user_cancelled");
        });
    };
}

std::string runSession(const std::string &input, HelperState &state, FakeGui &gui)
{
    MemoryFile in(input);
    MemoryFile out;
    ChannelScope channels(in.fd, out.fd);
    runWithin([&state, &gui] { commandLoop(&state, gui.calls()); }, std::chrono::seconds(20),
              "commandLoop");
    gui.joinWindowThreads();
    return out.contents();
}

} // namespace testsupport
