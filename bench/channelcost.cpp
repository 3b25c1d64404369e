// What one request costs inside the channel, without a display or a pipe partner: runs the
// helper's own command loop over N hello lines held in a temporary file, replies going to
// /dev/null, and counts the heap allocations and channel system calls made meanwhile. For
// comparison it then does the JSON floor's work for the same lines (parse each with
// QJsonDocument::fromJson, serialise a reply compactly, one write(2) each).
//
// The counters work by interposition: this executable's malloc, realloc, calloc, read, write,
// pthread_sigmask, sigpending and sigtimedwait come first in the dynamic linker's search, so the
// calls made by Qt and by the channel code reach them. Only this thread runs while counting.
//
//   tavisk-bench-channelcost [lines]   prints "<name> <allocs/request> <calls/request>
//   <ns/request>"
#include "jsonfloor.h"

#include "channel/commandloop.h"
#include "channel/guicalls.h"
#include "channel/replies.h"
#include "platform/handles.h"
#include "signin/helperstate.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <unistd.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_calloc(size_t count, size_t size);
}

namespace {

bool counting = false;
long allocations = 0;
long systemCalls = 0;

void countAllocation()
{
    if (counting)
        ++allocations;
}

template<typename Function> Function libc(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Looked up before counting starts, so that dlsym's own allocations stay out of the figures.
const auto realRead = libc<ssize_t (*)(int, void *, size_t)>("read");
const auto realWrite = libc<ssize_t (*)(int, const void *, size_t)>("write");
const auto realSigmask = libc<int (*)(int, const sigset_t *, sigset_t *)>("pthread_sigmask");
const auto realSigpending = libc<int (*)(sigset_t *)>("sigpending");
const auto realSigtimedwait
    = libc<int (*)(const sigset_t *, siginfo_t *, const struct timespec *)>("sigtimedwait");

void countCall()
{
    if (counting)
        ++systemCalls;
}

} // namespace

extern "C" void *malloc(size_t size)
{
    countAllocation();
    return __libc_malloc(size);
}

extern "C" void *realloc(void *pointer, size_t size)
{
    countAllocation();
    return __libc_realloc(pointer, size);
}

extern "C" void *calloc(size_t count, size_t size)
{
    countAllocation();
    return __libc_calloc(count, size);
}

extern "C" ssize_t read(int fd, void *buffer, size_t size)
{
    countCall();
    return realRead(fd, buffer, size);
}

extern "C" ssize_t write(int fd, const void *buffer, size_t size)
{
    countCall();
    return realWrite(fd, buffer, size);
}

extern "C" int pthread_sigmask(int how, const sigset_t *set, sigset_t *old)
{
    countCall();
    return realSigmask(how, set, old);
}

extern "C" int sigpending(sigset_t *set)
{
    countCall();
    return realSigpending(set);
}

extern "C" int sigtimedwait(const sigset_t *set, siginfo_t *info, const struct timespec *timeout)
{
    countCall();
    return realSigtimedwait(set, info, timeout);
}

namespace {

struct Cost {
    double allocations;
    double calls;
    double nanoseconds;
};

template<typename Work> Cost measure(long lines, Work &&work)
{
    allocations = systemCalls = 0;
    const auto start = std::chrono::steady_clock::now();
    counting = true;
    work();
    counting = false;
    const auto end = std::chrono::steady_clock::now();
    return {double(allocations) / lines, double(systemCalls) / lines,
            std::chrono::duration<double, std::nano>(end - start).count() / lines};
}

int requestFile(long lines)
{
    char path[] = "/tmp/tavisk-channelcost-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return -1;
    unlink(path);
    std::string text;
    for (long i = 1; i <= lines; ++i)
        text += "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(i) + ",\"method\":\"hello\"}\n";
    if (realWrite(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return -1;
    lseek(fd, 0, SEEK_SET);
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    const long lines = argc > 1 ? std::atol(argv[1]) : 200000;
    const int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int in = requestFile(lines);
    if (lines <= 0 || in < 0 || out < 0) {
        std::fprintf(stderr, "usage: %s [lines]\n", argv[0]);
        return 1;
    }

    cmdInHandle = platform::handleFromDescriptor(in);
    cmdOutHandle = platform::handleFromDescriptor(out);
    HelperState state;
    GuiCalls gui;
    gui.postQuitApplication = [](HelperState *) {};
    const Cost loop = measure(lines, [&] { commandLoop(&state, gui); });

    lseek(in, 0, SEEK_SET);
    const Cost floor = measure(lines, [&] {
        std::string pending;
        char buffer[4096];
        ssize_t n;
        while ((n = read(in, buffer, sizeof buffer)) > 0) {
            pending.append(buffer, static_cast<std::size_t>(n));
            const bool written = answerJsonLines(pending, [&](const char *data, std::size_t size) {
                return write(out, data, size) >= 0;
            });
            if (!written)
                return;
        }
    });

    std::printf("commandLoop %.2f %.3f %.0f\n", loop.allocations, loop.calls, loop.nanoseconds);
    std::printf("json-floor %.2f %.3f %.0f\n", floor.allocations, floor.calls, floor.nanoseconds);
    return 0;
}
