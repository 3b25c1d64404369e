// Preload library for the latency figure: records CLOCK_MONOTONIC time stamps of
//   - each call into QWebEngineNavigationRequest::url() (the slot reading the navigation it was
//     handed; the last one before the reply is the redirect's),
//   - QWebEngineNavigationRequest::reject(),
//   - the last return from a timed condition wait on the thread that writes the reply (for the
//     helper: the command thread waking from its sign-in wait),
//   - the write(2) that carries the reply line (its bytes hold "redirect_url"),
// and at exit appends "url_ns reject_ns wake_ns write_ns write_done_ns" to the file named by
// TAVISK_BENCH_STAMPS. On the measured path the stamps cost one clock read each and nothing else.
// Product code is untouched: the program's own calls into Qt and libc reach these wrappers
// through the dynamic linker.
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

std::atomic<std::int64_t> lastUrlNs{0};
std::atomic<std::int64_t> rejectNs{0};
std::atomic<std::int64_t> wakeNs{0};
std::atomic<std::int64_t> writeNs{0};
std::atomic<std::int64_t> writeDoneNs{0};
thread_local std::int64_t lastWakeOnThisThread = 0;

std::int64_t now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

template<typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using WriteFunction = ssize_t (*)(int, const void *, size_t);

__attribute__((destructor)) void report()
{
    const char *path = std::getenv("TAVISK_BENCH_STAMPS");
    if (path == nullptr || writeNs.load() == 0)
        return;
    char text[200];
    const int length = std::snprintf(
        text, sizeof text, "%lld %lld %lld %lld %lld\n", static_cast<long long>(lastUrlNs.load()),
        static_cast<long long>(rejectNs.load()), static_cast<long long>(wakeNs.load()),
        static_cast<long long>(writeNs.load()), static_cast<long long>(writeDoneNs.load()));
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    if (length > 0 && next<WriteFunction>("write")(fd, text, static_cast<size_t>(length)) < 0) {
        // Nothing to do: the driver reports the missing stamps.
    }
    close(fd);
}

} // namespace

// The two members, by their mangled names; the calling convention of a member function is that
// of a free function taking `this` first.
QUrl stampedUrl(const void *request) __asm__("_ZNK27QWebEngineNavigationRequest3urlEv");
void stampedReject(void *request) __asm__("_ZN27QWebEngineNavigationRequest6rejectEv");

QUrl stampedUrl(const void *request)
{
    lastUrlNs.store(now());
    static const auto real
        = next<QUrl (*)(const void *)>("_ZNK27QWebEngineNavigationRequest3urlEv");
    return real(request);
}

void stampedReject(void *request)
{
    rejectNs.store(now());
    static const auto real = next<void (*)(void *)>("_ZN27QWebEngineNavigationRequest6rejectEv");
    real(request);
}

extern "C" int pthread_cond_clockwait(pthread_cond_t *condition, pthread_mutex_t *mutex,
                                      clockid_t clock, const struct timespec *deadline)
{
    static const auto real
        = next<int (*)(pthread_cond_t *, pthread_mutex_t *, clockid_t, const struct timespec *)>(
            "pthread_cond_clockwait");
    const int result = real(condition, mutex, clock, deadline);
    lastWakeOnThisThread = now();
    return result;
}

extern "C" int pthread_cond_timedwait(pthread_cond_t *condition, pthread_mutex_t *mutex,
                                      const struct timespec *deadline)
{
    static const auto real
        = next<int (*)(pthread_cond_t *, pthread_mutex_t *, const struct timespec *)>(
            "pthread_cond_timedwait");
    const int result = real(condition, mutex, deadline);
    lastWakeOnThisThread = now();
    return result;
}

extern "C" ssize_t write(int fd, const void *buffer, size_t size)
{
    static const auto real = next<WriteFunction>("write");
    if (lastUrlNs.load(std::memory_order_relaxed) == 0
        || writeNs.load(std::memory_order_relaxed) != 0 || buffer == nullptr
        || memmem(buffer, size, "redirect_url", 12) == nullptr)
        return real(fd, buffer, size);
    const std::int64_t start = now();
    const ssize_t result = real(fd, buffer, size);
    writeDoneNs.store(now());
    wakeNs.store(lastWakeOnThisThread);
    writeNs.store(start);
    return result;
}
