// The helper as a child process, its two channel pipes held by us.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>

using Deadline = std::chrono::steady_clock::time_point;

enum class ReadOutcome {
    Line,      // one whole line, without its newline
    EndOfFile, // the helper closed its out-channel (it ended, or is ending)
    TimedOut,  // the deadline passed with no whole line
    Failed,    // the read itself failed
};

// Owns the child and our ends of its pipes; the destructor ends a helper that still runs.
// Used from one thread only.
class HelperProcess
{
public:
    HelperProcess() = default;
    ~HelperProcess();
    HelperProcess(const HelperProcess &) = delete;
    HelperProcess &operator=(const HelperProcess &) = delete;

    // Starts `path` with --cmdInFd=<fd> --cmdOutFd=<fd>. The child inherits only the two channel
    // ends (ours are close-on-exec), gets /dev/null as standard input and our standard error as
    // both its standard output and standard error, so our standard output stays free for the
    // result. False, with `error` set, when the helper cannot be started.
    bool start(const std::string &path, std::string &error);

    // Writes `line` and a newline. False when the helper no longer reads its in-channel.
    bool sendLine(const std::string &line);

    // The next reply line, waiting at most until `deadline`.
    ReadOutcome readLine(std::string &line, Deadline deadline);

    // Closes our end of the in-channel: the helper sees the end of its input.
    void closeInput();

    // Waits for the helper to end, killing it once `deadline` has passed. Returns the wait
    // status, or -1 when there was no child to wait for. `killed` tells whether we killed it.
    int waitForExit(Deadline deadline, bool &killed);

    // The helper's process id while it runs, else -1.
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_in = -1;  // our write end of the helper's in-channel
    int m_out = -1; // our read end of the helper's out-channel
    std::string m_pending;
};

// "exit status N" or "killed by signal N (name)" for a wait status.
std::string describeWaitStatus(int status);
