// corvane-tavisk-client: runs one sign-in through the helper and prints the redirect URL.
//
// Standard output carries only the redirect URL of a successful sign-in, so that a script can
// capture it. Everything else goes to standard error: each request line as sent ("> "), each
// reply line as received ("< "), the helper's own output, and our own one-line errors.

#include "clientoptions.h"

#include <corvane-tavisk/client.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int kSignedIn = 0;
constexpr int kSignInFailed = 2;
constexpr int kHelperFailed = 3;
// The sign-in's page could not be loaded: its certificate, the proxy, the network.
constexpr int kCertificateFailed = 4;
constexpr int kProxyFailed = 5;
constexpr int kNetworkFailed = 6;
// A silent sign-in needed a person.
constexpr int kInteractionRequired = 7;

// The exit status of a sign-in whose page could not be loaded, or 0 for any other status.
int loadFailureExitStatus(tavisk_status status)
{
    switch (status) {
    case TAVISK_CERTIFICATE_ERROR:
        return kCertificateFailed;
    case TAVISK_PROXY_ERROR:
        return kProxyFailed;
    case TAVISK_NETWORK_ERROR:
        return kNetworkFailed;
    default:
        return 0;
    }
}
constexpr int kUsage = 64; // EX_USAGE

constexpr std::uint32_t kExitWaitMs = 10000;

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

// The conversation goes to standard error, "> " for what we send, "< " for what we receive.
extern "C" void printTranscript(void *, char direction, const char *line)
{
    std::fprintf(stderr, "%c %s\n", direction, line);
    std::fflush(stderr);
}

// A descriptor that the library opens must not be 0, 1 or 2: the helper's standard streams are
// set up over those numbers, and our standard output is the result.
void keepStandardDescriptorsOpen()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1)
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

// Owns the library's handle; freeing it ends a helper that still runs.
struct ClientHandle {
    tavisk_client *client = tavisk_client_new();
    ~ClientHandle() { tavisk_client_free(client); }
    ClientHandle() = default;
    ClientHandle(const ClientHandle &) = delete;
    ClientHandle &operator=(const ClientHandle &) = delete;
};

int runSignIn(const ClientOptions &options, const char *argv0)
{
    ClientHandle handle;
    tavisk_client *client = handle.client;
    if (client == nullptr) {
        printError("out of memory");
        return kHelperFailed;
    }
    tavisk_client_set_program(client, argv0);
    tavisk_client_set_transcript(client, printTranscript, nullptr);
    // A value that is not UTF-8 is refused and none is sent: the sign-in goes on without a
    // parent, as the helper does with a value it cannot use.
    tavisk_client_set_parent_window(client, options.parentWindow.c_str());
    if (tavisk_client_set_session(client, options.session.c_str()) != TAVISK_OK) {
        printError(tavisk_client_message(client));
        return kUsage;
    }
    tavisk_client_set_silent(client, options.silent ? 1 : 0);

    const bool helperGiven = !options.helper.empty();
    tavisk_status status
        = tavisk_client_start(client, helperGiven ? options.helper.c_str() : nullptr);
    if (status != TAVISK_OK) {
        std::string message = tavisk_client_message(client);
        if (status == TAVISK_HELPER_NOT_FOUND && !helperGiven)
            message += "; name it with --helper";
        printError(message);
        return kHelperFailed;
    }
    // Cleared before the helper is reaped, so a signal never reaches a recycled process id.
    gHelperPid = static_cast<sig_atomic_t>(tavisk_client_pid(client));

    const bool forgetting = !options.forget.empty();
    status = forgetting
        ? tavisk_client_forget(client, options.forget.c_str())
        : tavisk_client_sign_in(client, options.url.c_str(), options.redirectUri.c_str(),
                                options.title.c_str(), options.userAgent.c_str(),
                                options.timeoutGiven ? options.timeoutMs : 0);
    const std::string outcome = status == TAVISK_OK && !forgetting
        ? tavisk_client_redirect_url(client)
        : tavisk_client_message(client);
    gHelperPid = 0;
    const int loadFailure = loadFailureExitStatus(status);
    if (status == TAVISK_OK || status == TAVISK_SIGNIN_FAILED
        || status == TAVISK_INTERACTION_REQUIRED || loadFailure != 0) {
        // The helper still serves: end it in order, and say so when that went wrong.
        if (tavisk_client_close(client, kExitWaitMs) != TAVISK_OK)
            printError(tavisk_client_message(client));
    } else {
        if (status == TAVISK_HELPER_UNRESPONSIVE)
            printError(outcome + "; stopping it");
        // Its failure is the message that counts; stopping it adds nothing.
        tavisk_client_close(client, 0);
    }

    // The outcome comes last, once the helper is gone, so that it ends the output.
    if (status == TAVISK_OK && forgetting)
        return kSignedIn;
    if (status == TAVISK_OK) {
        const std::string line = outcome + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        return kSignedIn;
    }
    if (status == TAVISK_INTERACTION_REQUIRED) {
        printError("sign-in failed: " + outcome);
        return kInteractionRequired;
    }
    if (status == TAVISK_SIGNIN_FAILED) {
        printError((forgetting ? "forget failed: " : "sign-in failed: ") + outcome);
        return kSignInFailed;
    }
    if (loadFailure != 0) {
        printError("sign-in failed: " + outcome + ": " + tavisk_client_failure_error(client)
                   + " at " + tavisk_client_failure_host(client));
        return loadFailure;
    }
    if (status != TAVISK_HELPER_UNRESPONSIVE)
        printError(outcome);
    return kHelperFailed;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 1 && argv[0] != nullptr && argv[0][0] != '\0') {
        const char *slash = std::strrchr(argv[0], '/');
        gProgram = slash != nullptr && slash[1] != '\0' ? slash + 1 : argv[0];
    }
    keepStandardDescriptorsOpen();
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

    return runSignIn(parsed.options, argv[0]);
}
