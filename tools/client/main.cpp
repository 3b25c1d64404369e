// corvane-tavisk-client: runs one sign-in through the helper and prints the redirect URL.
//
// Standard output carries only the redirect URL of a successful sign-in, so that a script can
// capture it. Everything else goes to standard error: each request line as sent ("> "), each
// reply line as received ("< "), the helper's own output, and our own one-line errors.

#include "clientoptions.h"
#include "helperpath.h"
#include "helperprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kSignedIn = 0;
constexpr int kSignInFailed = 2;
constexpr int kHelperFailed = 3;
constexpr int kUsage = 64; // EX_USAGE

constexpr std::int64_t kHelloId = 1;
constexpr std::int64_t kNavigateId = 2;
constexpr std::uint32_t kHelperDefaultTimeoutMs = 180000;
// Start-up to the hello reply takes well under a second; a helper that is still silent after
// this is stuck.
constexpr auto kHelloWait = std::chrono::seconds(30);
// Beyond the sign-in's own limit, which the helper enforces and answers with "timeout".
constexpr auto kReplyGrace = std::chrono::seconds(30);
constexpr auto kExitWait = std::chrono::seconds(10);

const char *gProgram = "corvane-tavisk-client";

// The helper to take down with us when a signal ends us; set once it runs.
volatile sig_atomic_t gHelperPid = 0;

// A sign-in in progress holds its window open until its time limit, and the helper reads no
// request meanwhile, so the end of its input would not reach it: stop it directly, then die of
// the same signal. Only async-signal-safe calls here.
extern "C" void stopHelperAndDie(int signalNumber)
{
    const pid_t helper = static_cast<pid_t>(gHelperPid);
    if (helper > 0)
        kill(helper, SIGTERM);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Signals that were ignored when we started (nohup, a shell's background job) stay ignored.
void stopHelperOnSignals()
{
    for (const int signalNumber : {SIGHUP, SIGINT, SIGTERM}) {
        struct sigaction current = {};
        if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = stopHelperAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

void printError(const std::string &text)
{
    std::fprintf(stderr, "%s: %s\n", gProgram, text.c_str());
    std::fflush(stderr);
}

void printTranscript(const char *direction, const std::string &line)
{
    std::fprintf(stderr, "%s %s\n", direction, line.c_str());
    std::fflush(stderr);
}

// A descriptor the helper's pipes take must not be 0, 1 or 2: the child's standard streams are
// set up over those numbers.
void keepStandardDescriptorsOpen()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1)
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

std::string compactLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject request(std::int64_t id, const char *method)
{
    QJsonObject object;
    object.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
    if (id != 0)
        object.insert(QStringLiteral("id"), QJsonValue(static_cast<qint64>(id)));
    object.insert(QStringLiteral("method"), QString::fromUtf8(method));
    return object;
}

QJsonObject navigateRequest(const ClientOptions &options)
{
    QJsonObject params;
    params.insert(QStringLiteral("url"), QString::fromStdString(options.url));
    params.insert(QStringLiteral("redirect_uri"), QString::fromStdString(options.redirectUri));
    params.insert(QStringLiteral("title"), QString::fromStdString(options.title));
    if (!options.userAgent.empty())
        params.insert(QStringLiteral("user_agent"), QString::fromStdString(options.userAgent));
    if (options.timeoutGiven)
        params.insert(QStringLiteral("timeout_ms"),
                      QJsonValue(static_cast<qint64>(options.timeoutMs)));
    QJsonObject object = request(kNavigateId, "navigate");
    object.insert(QStringLiteral("params"), params);
    return object;
}

class Session
{
public:
    explicit Session(HelperProcess &helper)
        : m_helper(helper)
    { }

    bool send(const QJsonObject &object)
    {
        const std::string line = compactLine(object);
        printTranscript(">", line);
        return m_helper.sendLine(line);
    }

    // The reply to request `id`, or false after printing why there is none. `what` names the
    // request in messages.
    bool awaitReply(std::int64_t id, const char *what, Deadline deadline, QJsonObject &reply)
    {
        std::string line;
        const ReadOutcome outcome = m_helper.readLine(line, deadline);
        if (outcome == ReadOutcome::TimedOut) {
            printError(std::string("the helper did not answer ") + what + " in time; stopping it");
            return false;
        }
        if (outcome != ReadOutcome::Line) {
            m_helper.closeInput();
            bool killed = false;
            const int status
                = m_helper.waitForExit(std::chrono::steady_clock::now() + kExitWait, killed);
            const std::string how = status < 0 || killed ? std::string("it did not exit")
                                                         : describeWaitStatus(status);
            printError(std::string("the helper ended before it answered ") + what + " (" + how
                       + ")");
            return false;
        }
        printTranscript("<", line);
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        reply = document.object();
        if (!document.isObject()
            || reply.value(QStringLiteral("id")).toInteger(-1) != static_cast<qint64>(id)) {
            printError(std::string("the helper's answer to ") + what
                       + " is not a reply to it: " + line);
            return false;
        }
        return true;
    }

private:
    HelperProcess &m_helper;
};

struct SignInOutcome {
    int exitStatus = kHelperFailed;
    std::string redirectUrl; // for kSignedIn
    std::string message;     // otherwise
};

// What the sign-in came to, from the navigate reply.
SignInOutcome readNavigateReply(const QJsonObject &reply)
{
    SignInOutcome outcome;
    const QJsonObject result = reply.value(QStringLiteral("result")).toObject();
    const QJsonValue url = result.value(QStringLiteral("redirect_url"));
    const QJsonValue message
        = reply.value(QStringLiteral("error")).toObject().value(QStringLiteral("message"));
    if (result.value(QStringLiteral("status")).toString() == QStringLiteral("ok")
        && url.isString()) {
        outcome.exitStatus = kSignedIn;
        outcome.redirectUrl = url.toString().toStdString();
    } else if (message.isString()) {
        outcome.exitStatus = kSignInFailed;
        outcome.message = "sign-in failed: " + message.toString().toStdString();
    } else {
        outcome.message = "the helper's answer to navigate holds neither a result nor an error";
    }
    return outcome;
}

int runSignIn(const std::string &helperPath, const ClientOptions &options)
{
    HelperProcess helper;
    std::string error;
    if (!helper.start(helperPath, error)) {
        printError(error);
        return kHelperFailed;
    }
    // Cleared before the helper is reaped, so a signal never reaches a recycled process id.
    struct SignalTarget {
        explicit SignalTarget(pid_t pid) { gHelperPid = static_cast<sig_atomic_t>(pid); }
        ~SignalTarget() { gHelperPid = 0; }
        SignalTarget(const SignalTarget &) = delete;
        SignalTarget &operator=(const SignalTarget &) = delete;
    } signalTarget(helper.pid());
    Session session(helper);

    // A failed send shows up as the end of the out-channel, with the helper's exit status.
    QJsonObject reply;
    session.send(request(kHelloId, "hello"));
    if (!session.awaitReply(kHelloId, "hello", std::chrono::steady_clock::now() + kHelloWait,
                            reply))
        return kHelperFailed;
    const int version = reply.value(QStringLiteral("result"))
                            .toObject()
                            .value(QStringLiteral("protocol_version"))
                            .toInt(-1);
    if (version != 1) {
        printError("the helper speaks protocol version " + std::to_string(version)
                   + "; this client speaks version 1");
        return kHelperFailed;
    }

    session.send(navigateRequest(options));
    const std::uint32_t limitMs = options.timeoutGiven && options.timeoutMs != 0
        ? options.timeoutMs
        : kHelperDefaultTimeoutMs;
    const Deadline navigateDeadline
        = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs) + kReplyGrace;
    if (!session.awaitReply(kNavigateId, "navigate", navigateDeadline, reply))
        return kHelperFailed;
    const SignInOutcome outcome = readNavigateReply(reply);

    session.send(request(0, "exit"));
    helper.closeInput();
    gHelperPid = 0; // it is ending by itself now
    bool killed = false;
    const int status = helper.waitForExit(std::chrono::steady_clock::now() + kExitWait, killed);
    if (killed)
        printError("the helper did not exit after exit; killed it");
    else if (status >= 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        printError("the helper ended with " + describeWaitStatus(status));

    // The outcome comes last, once the helper is gone, so that it ends the output.
    if (outcome.exitStatus == kSignedIn) {
        const std::string line = outcome.redirectUrl + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    } else {
        printError(outcome.message);
    }
    return outcome.exitStatus;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 1 && argv[0] != nullptr && argv[0][0] != '\0') {
        const char *slash = std::strrchr(argv[0], '/');
        gProgram = slash != nullptr && slash[1] != '\0' ? slash + 1 : argv[0];
    }
    keepStandardDescriptorsOpen();
    // A helper that went away must show up as a failed write, not end us.
    std::signal(SIGPIPE, SIG_IGN);
    stopHelperOnSignals();

    const ParsedCommandLine parsed = parseCommandLine(argc, argv);
    switch (parsed.kind) {
    case CommandLine::Help:
        std::fputs(usageText(gProgram).c_str(), stdout);
        return 0;
    case CommandLine::Version:
        std::printf("corvane-tavisk-client %s\n", TAVISK_VERSION);
        return 0;
    case CommandLine::Invalid:
        printError(parsed.problem);
        std::fputs(usageSynopsis(gProgram).c_str(), stderr);
        std::fprintf(stderr, "Run '%s --help' for more.\n", gProgram);
        return kUsage;
    case CommandLine::Run:
        break;
    }

    std::string helperPath;
    if (!parsed.options.helper.empty()) {
        helperPath = resolveGivenHelper(parsed.options.helper);
        if (helperPath.empty()) {
            printError("cannot find the helper " + parsed.options.helper + " on PATH");
            return kHelperFailed;
        }
    } else {
        std::string searched;
        helperPath = defaultHelperPath(argv[0], searched);
        if (helperPath.empty()) {
            printError(std::string("cannot find the helper ") + kHelperName + " (looked in "
                       + searched + "); name it with --helper");
            return kHelperFailed;
        }
    }
    return runSignIn(helperPath, parsed.options);
}
