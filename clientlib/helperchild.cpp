#include "helperchild.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// POSIX leaves declaring it to the program; FreeBSD's headers do not declare it.
extern char **environ; // NOLINT(readability-redundant-declaration)

namespace taviskclient {

namespace {

// The helper's channel descriptors, as it sees them.
constexpr int kChildIn = 3;
constexpr int kChildOut = 4;

std::string systemError(const char *what, int error)
{
    return std::string(what) + ": " + errorText(error);
}

// strerror_r comes in two kinds: POSIX's returns a status, GNU's the text (maybe not in buffer).
[[maybe_unused]] std::string strerrorResult(int status, const char *buffer)
{
    return status == 0 ? std::string(buffer) : std::string("unknown error");
}
[[maybe_unused]] std::string strerrorResult(const char *text, const char *)
{
    return text;
}

// posix_spawn's two setup objects, destroyed on every way out.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    bool ready = false;

    SpawnSetup()
    {
        if (posix_spawn_file_actions_init(&actions) != 0)
            return;
        if (posix_spawnattr_init(&attributes) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return;
        }
        ready = true;
    }
    ~SpawnSetup()
    {
        if (ready) {
            posix_spawnattr_destroy(&attributes);
            posix_spawn_file_actions_destroy(&actions);
        }
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

// A close-on-exec socket pair whose two descriptors are numbered 5 or above, so that setting
// up the child's descriptors 0 to 4 never overwrites one of them before it has been copied.
bool makeChannel(int ends[2], std::string &error)
{
    int made[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, made) != 0) {
        error = systemError("cannot create a channel", errno);
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        ends[i] = made[i] >= 5 ? made[i] : fcntl(made[i], F_DUPFD_CLOEXEC, 5);
        if (ends[i] != made[i])
            close(made[i]);
    }
    if (ends[0] < 0 || ends[1] < 0) {
        error = systemError("cannot create a channel", errno);
        closeDescriptor(ends[0]);
        closeDescriptor(ends[1]);
        return false;
    }
    return true;
}

} // namespace

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const long long ms = std::max<long long>(0, left.count() + 1);
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

std::string errorText(int error)
{
    char buffer[256] = {};
    return strerrorResult(strerror_r(error, buffer, sizeof buffer), buffer);
}

void closeDescriptor(int &fd)
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

bool spawnHelper(const std::string &path, const std::vector<std::string> &arguments, int outputFd,
                 HelperChild &child, std::string &error)
{
    int request[2] = {-1, -1}; // [0] ours, [1] the helper's
    int reply[2] = {-1, -1};   // [0] ours, [1] the helper's
    const auto closeAll = [&] {
        closeDescriptor(request[0]);
        closeDescriptor(request[1]);
        closeDescriptor(reply[0]);
        closeDescriptor(reply[1]);
    };
    if (!makeChannel(request, error) || !makeChannel(reply, error)) {
        closeAll();
        return false;
    }
    const int flags = fcntl(reply[0], F_GETFL);
    if (flags == -1 || fcntl(reply[0], F_SETFL, flags | O_NONBLOCK) == -1) {
        error = systemError("cannot set up the reply channel", errno);
        closeAll();
        return false;
    }

    std::vector<std::string> texts{path, "--cmdInFd=" + std::to_string(kChildIn),
                                   "--cmdOutFd=" + std::to_string(kChildOut)};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    argv.reserve(texts.size() + 1);
    for (std::string &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    int result = setup.ready ? 0 : ENOMEM;
    // Standard output and error first: `outputFd` may be any number, and the child's 0, 3 and
    // 4 are set up after it has been copied. dup2 onto another number clears close-on-exec.
    if (result == 0)
        result = posix_spawn_file_actions_adddup2(&setup.actions, outputFd, STDOUT_FILENO);
    if (result == 0)
        result = posix_spawn_file_actions_adddup2(&setup.actions, outputFd, STDERR_FILENO);
    if (result == 0)
        result = posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null",
                                                  O_RDONLY, 0);
    if (result == 0)
        result = posix_spawn_file_actions_adddup2(&setup.actions, request[1], kChildIn);
    if (result == 0)
        result = posix_spawn_file_actions_adddup2(&setup.actions, reply[1], kChildOut);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors the calling program left inheritable must not reach the helper either.
    if (result == 0)
        result = posix_spawn_file_actions_addclosefrom_np(&setup.actions, kChildOut + 1);
#endif
    // Signals the calling program ignores or blocks would stay so in the helper, and a helper
    // that ignores SIGTERM cannot be stopped in order.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signalNumber : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, signalNumber);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    if (result == 0)
        result = posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    if (result == 0)
        result = posix_spawnattr_setsigmask(&setup.attributes, &noneBlocked);
    if (result == 0)
        result = posix_spawnattr_setflags(&setup.attributes,
                                          POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    if (result == 0)
        result = posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv.data(),
                             environ);

    // The helper holds its own copies; ours would keep its channels from ever ending.
    closeDescriptor(request[1]);
    closeDescriptor(reply[1]);
    if (result != 0) {
        error = "cannot start the helper " + path + ": " + errorText(result);
        closeAll();
        return false;
    }
    child.pid = pid;
    child.requestFd = request[0];
    child.replyFd = reply[0];
    return true;
}

SendOutcome sendAll(int fd, std::string_view data, Clock::time_point deadline)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n
            = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (Clock::now() >= deadline)
                return SendOutcome::Stuck;
            pollfd entry{fd, POLLOUT, 0};
            poll(&entry, 1, millisecondsUntil(deadline));
            continue;
        }
        return SendOutcome::Gone;
    }
    return SendOutcome::Sent;
}

ReadOutcome readSome(int fd, std::string &out)
{
    char buffer[65536];
    while (true) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
            return ReadOutcome::Data;
        }
        if (n == 0)
            return ReadOutcome::EndOfFile;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ReadOutcome::Nothing;
        // A helper killed with data unread on our side of the pair shows as a reset: that is
        // its end too.
        return errno == ECONNRESET ? ReadOutcome::EndOfFile : ReadOutcome::Failed;
    }
}

WaitOutcome waitForExit(pid_t pid, Clock::time_point deadline, int &status)
{
    // There is no portable way to wait for one child with a time limit; poll with short,
    // growing sleeps: a helper that ends at once is seen within a millisecond.
    long sleepNs = 500000;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WaitOutcome::Exited;
        if (done < 0 && errno != EINTR)
            return WaitOutcome::Unknown;
        if (done == 0 && Clock::now() >= deadline)
            return WaitOutcome::Running;
        const timespec pause{0, sleepNs};
        nanosleep(&pause, nullptr);
        sleepNs = std::min(sleepNs * 2, 20000000L);
    }
}

std::string describeWaitStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const int signalNumber = WTERMSIG(status);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
        const char *name = sigdescr_np(signalNumber); // strsignal's text, thread-safe
#else
        // All there is before glibc 2.32.
        const char *name = strsignal(signalNumber); // NOLINT(concurrency-mt-unsafe)
#endif
        return "killed by signal " + std::to_string(signalNumber)
            + (name != nullptr ? std::string(" (") + name + ")" : std::string());
    }
    return "wait status " + std::to_string(status);
}

} // namespace taviskclient
