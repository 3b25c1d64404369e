// The helper as a child process: starting it on two socket pairs, writing request lines,
// reading reply bytes, and waiting for it or stopping it.
//
// The channels are socket pairs rather than pipes so that a write to a helper that has gone
// fails with EPIPE through send(MSG_NOSIGNAL) instead of raising SIGPIPE. That needs no signal
// disposition or mask of the calling program, which a library must not touch; the helper
// reads and writes them as it would pipes.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace taviskclient {

using Clock = std::chrono::steady_clock;

struct HelperChild {
    pid_t pid = -1;
    int requestFd = -1; // ours: the helper reads requests from its other end
    int replyFd = -1;   // ours, non-blocking: the helper writes replies to its other end
};

// Starts `path` with --cmdInFd=3 --cmdOutFd=4 and then `arguments`, standard input /dev/null,
// standard output and error on `outputFd`. The helper inherits exactly those five descriptors,
// its signals at their defaults and none blocked. False, with `error` set, when it cannot start.
bool spawnHelper(const std::string &path, const std::vector<std::string> &arguments, int outputFd,
                 HelperChild &child, std::string &error);

enum class SendOutcome {
    Sent,
    Gone,  // the helper's end is closed: it ended, or is ending
    Stuck, // the helper read nothing until the deadline
};

// Writes all of `data`, waiting for room at most until `deadline`.
SendOutcome sendAll(int fd, std::string_view data, Clock::time_point deadline);

enum class ReadOutcome {
    Data,      // some bytes were appended
    Nothing,   // nothing there yet
    EndOfFile, // the helper closed its reply channel
    Failed,    // the read itself failed
};

// One non-blocking read into `out`.
ReadOutcome readSome(int fd, std::string &out);

enum class WaitOutcome {
    Exited,  // `status` holds its wait status
    Running, // still running at the deadline
    Unknown, // it is not our child to wait for any more (reaped elsewhere, SIGCHLD ignored)
};

WaitOutcome waitForExit(pid_t pid, Clock::time_point deadline, int &status);

// "exit status N" or "signal N (name)" for a wait status.
std::string describeWaitStatus(int status);

// The time left until `deadline` in whole milliseconds for poll(), rounded up and never below
// 0: a wait that ends on it never wakes just before the deadline and spins.
int millisecondsUntil(Clock::time_point deadline);

// strerror's text for `error`, safe on any thread (handles may live on several).
std::string errorText(int error);

// Closes *fd when it is open and marks it closed.
void closeDescriptor(int &fd);

} // namespace taviskclient
