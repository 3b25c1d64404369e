#include "helperprocess.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// POSIX leaves declaring it to the program; FreeBSD's headers do not declare it.
extern char **environ; // NOLINT(readability-redundant-declaration)

namespace {

void closeDescriptor(int &fd)
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

bool setCloseOnExec(int fd)
{
    const int flags = fcntl(fd, F_GETFD);
    return flags != -1 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != -1;
}

int millisecondsUntil(Deadline deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    // Rounded up, so that poll never wakes just before the deadline and spins.
    const long long ms = std::max<long long>(0, left.count() + 1);
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void sleepBriefly()
{
    const timespec tenMilliseconds{0, 10000000L};
    nanosleep(&tenMilliseconds, nullptr);
}

// posix_spawn's three setup objects, destroyed on every way out.
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

} // namespace

HelperProcess::~HelperProcess()
{
    closeInput();
    if (m_pid > 0) {
        // End of input asks the helper to stop in order; a helper that does not is killed.
        bool killed = false;
        waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(5), killed);
    }
    closeDescriptor(m_out);
}

bool HelperProcess::start(const std::string &path, std::string &error)
{
    int inPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    if (pipe(inPipe) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe(outPipe) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        close(inPipe[0]);
        close(inPipe[1]);
        return false;
    }
    m_in = inPipe[1];
    m_out = outPipe[0];
    int childIn = inPipe[0];
    int childOut = outPipe[1];
    // Our ends must not leak into the helper: a write end it held itself would keep its own
    // input from ever ending.
    if (!setCloseOnExec(m_in) || !setCloseOnExec(m_out)) {
        error = std::string("cannot mark a pipe close-on-exec: ") + std::strerror(errno);
        closeDescriptor(childIn);
        closeDescriptor(childOut);
        closeInput();
        closeDescriptor(m_out);
        return false;
    }

    const std::string inArgument = "--cmdInFd=" + std::to_string(childIn);
    const std::string outArgument = "--cmdOutFd=" + std::to_string(childOut);
    char *const argv[] = {const_cast<char *>(path.c_str()), const_cast<char *>(inArgument.c_str()),
                          const_cast<char *>(outArgument.c_str()), nullptr};

    SpawnSetup setup;
    int result = setup.ready ? 0 : ENOMEM;
    if (result == 0)
        result = posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null",
                                                  O_RDONLY, 0);
    if (result == 0)
        result = posix_spawn_file_actions_adddup2(&setup.actions, STDERR_FILENO, STDOUT_FILENO);
    // We ignore SIGPIPE; the helper starts with every signal at its default and none blocked.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
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
        result = posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv, environ);

    // The helper holds its own copies; ours would keep its channels from ever ending.
    closeDescriptor(childIn);
    closeDescriptor(childOut);
    if (result != 0) {
        error = "cannot start the helper " + path + ": " + std::strerror(result);
        closeInput();
        closeDescriptor(m_out);
        return false;
    }
    m_pid = pid;
    return true;
}

bool HelperProcess::sendLine(const std::string &line)
{
    if (m_in < 0)
        return false;
    const std::string data = line + "\n";
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = write(m_in, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // EPIPE: SIGPIPE is ignored, so a helper that is gone is an error
        written += static_cast<std::size_t>(n);
    }
    return true;
}

ReadOutcome HelperProcess::readLine(std::string &line, Deadline deadline)
{
    while (true) {
        const std::size_t newline = m_pending.find('\n');
        if (newline != std::string::npos) {
            line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return ReadOutcome::Line;
        }
        if (m_out < 0)
            return ReadOutcome::EndOfFile;
        if (std::chrono::steady_clock::now() >= deadline)
            return ReadOutcome::TimedOut;

        pollfd entry{m_out, POLLIN, 0};
        const int ready = poll(&entry, 1, millisecondsUntil(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return ReadOutcome::Failed;
        }
        if (ready == 0)
            continue; // the deadline test above decides

        char buffer[4096];
        const ssize_t n = read(m_out, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return ReadOutcome::Failed;
        }
        if (n == 0) {
            // Bytes after the last newline are no reply.
            closeDescriptor(m_out);
            return ReadOutcome::EndOfFile;
        }
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

void HelperProcess::closeInput()
{
    closeDescriptor(m_in);
}

int HelperProcess::waitForExit(Deadline deadline, bool &killed)
{
    killed = false;
    if (m_pid <= 0)
        return -1;
    int status = 0;
    while (true) {
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            break;
        if (done < 0 && errno != EINTR) {
            m_pid = -1;
            return -1;
        }
        if (done == 0 && std::chrono::steady_clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            killed = true;
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
            break;
        }
        sleepBriefly();
    }
    m_pid = -1;
    return status;
}

std::string describeWaitStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char *name = strsignal(signal);
        return "killed by signal " + std::to_string(signal)
            + (name != nullptr ? std::string(" (") + name + ")" : std::string());
    }
    return "wait status " + std::to_string(status);
}
