#include "platform/handles.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace platform {

namespace {

// Descriptor 0 is a valid channel, so handles store fd + 1 and a null handle stays "none".
constexpr std::uintptr_t kHandleBias = 1;

bool parseDescriptor(const char *begin, const char *end, int &fd)
{
    if (begin == end)
        return false;
    long long value = 0;
    for (const char *p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            return false;
    }
    fd = static_cast<int>(value);
    return true;
}

// Blocks SIGPIPE on the calling thread for one write, so that a reader that went away turns
// into EPIPE; a SIGPIPE raised by that write is then taken back before the mask is restored.
// The usual case, SIGPIPE not blocked yet, costs two system calls: no SIGPIPE can be pending for
// a thread that does not block it, so only an already blocked one needs the pending check.
class SigpipeGuard
{
public:
    SigpipeGuard()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previousMask);
        m_wasBlocked = sigismember(&m_previousMask, SIGPIPE) == 1;
        if (m_wasBlocked) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        }
    }
    ~SigpipeGuard()
    {
        if (!m_wasBlocked)
            pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    }
    SigpipeGuard(const SigpipeGuard &) = delete;
    SigpipeGuard &operator=(const SigpipeGuard &) = delete;

    void discardRaisedSigpipe()
    {
        if (m_wasPending)
            return;
        const timespec noWait{0, 0};
        while (sigtimedwait(&m_pipe, nullptr, &noWait) == -1 && errno == EINTR) { }
    }

private:
    sigset_t m_pipe;
    sigset_t m_previousMask;
    bool m_wasBlocked = false;
    bool m_wasPending = false;
};

} // namespace

HANDLE handleFromDescriptor(int fd)
{
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(fd) + kHandleBias);
}

int descriptorOf(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return -1;
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle) - kHandleBias;
    if (value > static_cast<std::uintptr_t>(INT_MAX))
        return -1;
    return static_cast<int>(value);
}

HANDLE selvo_importHandleFromString(const char *text, const char *pattern)
{
    if (text == nullptr || pattern == nullptr)
        return INVALID_HANDLE_VALUE;
    const char *marker = std::strstr(pattern, "{}");
    if (marker == nullptr)
        return INVALID_HANDLE_VALUE;
    const std::size_t prefixLength = static_cast<std::size_t>(marker - pattern);
    const char *suffix = marker + 2;
    const std::size_t suffixLength = std::strlen(suffix);
    const std::size_t textLength = std::strlen(text);
    if (textLength < prefixLength + suffixLength)
        return INVALID_HANDLE_VALUE;
    if (std::strncmp(text, pattern, prefixLength) != 0
        || std::strcmp(text + textLength - suffixLength, suffix) != 0)
        return INVALID_HANDLE_VALUE;

    int fd = -1;
    if (!parseDescriptor(text + prefixLength, text + textLength - suffixLength, fd))
        return INVALID_HANDLE_VALUE;
    const int flags = fcntl(fd, F_GETFD);
    if (flags == -1)
        return INVALID_HANDLE_VALUE;
    if ((flags & FD_CLOEXEC) == 0 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == -1)
        return INVALID_HANDLE_VALUE;
    return handleFromDescriptor(fd);
}

BOOL ReadFile(HANDLE handle, void *buffer, DWORD size, DWORD *bytesRead, void *overlapped)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    const int fd = descriptorOf(handle);
    if (fd < 0 || buffer == nullptr || bytesRead == nullptr || overlapped != nullptr)
        return 0;
    ssize_t n;
    do {
        n = read(fd, buffer, size);
    } while (n == -1 && errno == EINTR);
    if (n < 0)
        return 0;
    *bytesRead = static_cast<DWORD>(n);
    return 1;
}

BOOL WriteFile(HANDLE handle, const void *buffer, DWORD size, DWORD *bytesWritten, void *overlapped)
{
    if (bytesWritten != nullptr)
        *bytesWritten = 0;
    const int fd = descriptorOf(handle);
    if (fd < 0 || buffer == nullptr || bytesWritten == nullptr || overlapped != nullptr)
        return 0;
    SigpipeGuard guard;
    ssize_t n;
    do {
        n = write(fd, buffer, size);
    } while (n == -1 && errno == EINTR);
    if (n < 0) {
        if (errno == EPIPE)
            guard.discardRaisedSigpipe();
        return 0;
    }
    *bytesWritten = static_cast<DWORD>(n);
    return 1;
}

BOOL CloseHandle(HANDLE handle)
{
    const int fd = descriptorOf(handle);
    if (fd < 0)
        return 0;
    // After close() failed with EINTR the descriptor state is unspecified; retrying could close
    // a descriptor another thread has just been given, so report success either way.
    return close(fd) == 0 || errno == EINTR ? 1 : 0;
}

} // namespace platform
