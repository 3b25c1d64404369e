// The C API: one handle per helper, a small state machine over its two channels. Every entry
// point catches what the standard library may throw (only std::bad_alloc in practice), so that
// no C++ exception crosses into a C caller.

#include "corvane-tavisk/client.h"

#include "helperchild.h"
#include "helperpath.h"
#include "json.h"
#include "replyreader.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace taviskclient;

namespace {

constexpr std::uint32_t kHelperDefaultLimitMs = 180000;
// After SIGTERM the helper and its engine end within a few hundred milliseconds.
constexpr auto kTermWait = std::chrono::seconds(2);
// A helper that closed its reply channel is ending; this long is given to learn its status.
constexpr auto kEndingWait = std::chrono::seconds(1);
// Long lines in messages are cut here: the message is for a person, the transcript has it all.
constexpr std::size_t kExcerptBytes = 200;

enum class Awaiting { Nothing, Hello, Navigate, Forget };

std::string excerpt(const std::string &line)
{
    return line.size() <= kExcerptBytes ? line : line.substr(0, kExcerptBytes) + "...";
}

const char *methodName(Awaiting awaiting)
{
    return awaiting == Awaiting::Hello ? "hello"
        : awaiting == Awaiting::Forget ? "forget"
                                       : "navigate";
}

// The helper's message for a silent sign-in that needs a person.
const char kInteractionRequired[] = "interaction_required";

} // namespace

struct tavisk_client {
    // Settings, read at start.
    std::string program; // empty: the running program's own file
    std::vector<std::string> arguments;
    int outputFd = 2;
    std::uint32_t replyWaitMs = TAVISK_CLIENT_DEFAULT_REPLY_WAIT_MS;
    tavisk_transcript_fn transcript = nullptr;
    void *transcriptContext = nullptr;
    std::string parentWindow; // sent with every navigate while not empty
    std::string session;      // sent with every navigate while not empty
    bool silent = false;      // sent with every navigate while true

    // The helper, from start to close.
    HelperChild child;
    bool running = false; // started and not yet closed
    bool reaped = false;  // its wait status is in exitStatus and child.pid is -1
    int exitStatus = 0;
    LineBuffer replies{static_cast<std::size_t>(TAVISK_CLIENT_MAX_REPLY_BYTES)};
    std::string chunk; // read scratch
    bool replyEnded = false;

    // The conversation.
    std::int64_t nextId = 1;
    Awaiting awaiting = Awaiting::Nothing; // whose reply comes next
    std::int64_t awaitedId = 0;
    Clock::time_point deadline;
    bool helloAnswered = false;
    bool signInInFlight = false; // navigate begun, its outcome not yet reported
    std::string queuedNavigate;  // sent once hello has been answered
    std::uint32_t queuedLimitMs = 0;
    tavisk_status failure = TAVISK_OK; // the helper's final failure, else TAVISK_OK

    // Results.
    std::string message;
    std::string redirectUrl;
    std::vector<std::pair<std::string, std::string>> form; // of the sign-in of redirectUrl
    std::string failureHost;  // of the last sign-in whose page could not be loaded
    std::string failureError; // the engine's name of that failure
    std::string helperName;
    bool outOfMemory = false; // message() says so without needing memory
};

namespace {

tavisk_status refuse(tavisk_client *client, const char *text)
{
    client->message = text;
    return TAVISK_BAD_CALL;
}

// The status of a sign-in the helper answered with an error: a failed load of its page has a
// status of its own per reason, with the host and the engine's error name kept.
tavisk_status failedSignInStatus(tavisk_client *client, const NavigateOutcome &outcome)
{
    static const std::pair<const char *, tavisk_status> kLoadFailures[] = {
        {"certificate_error", TAVISK_CERTIFICATE_ERROR},
        {"proxy_error", TAVISK_PROXY_ERROR},
        {"network_error", TAVISK_NETWORK_ERROR},
    };
    for (const auto &[message, status] : kLoadFailures) {
        if (outcome.text == message) {
            client->failureHost = outcome.failureHost;
            client->failureError = outcome.failureError;
            return status;
        }
    }
    return TAVISK_SIGNIN_FAILED;
}

// A failure of the helper: final until close.
tavisk_status fail(tavisk_client *client, tavisk_status status, std::string text)
{
    client->failure = status;
    client->message = std::move(text);
    client->awaiting = Awaiting::Nothing;
    client->signInInFlight = false;
    client->queuedNavigate.clear();
    return status;
}

template<typename Body> tavisk_status guarded(tavisk_client *client, Body body)
{
    if (client == nullptr)
        return TAVISK_BAD_CALL;
    try {
        client->outOfMemory = false;
        return body();
    } catch (...) {
        client->outOfMemory = true;
        return TAVISK_NO_MEMORY;
    }
}

Clock::time_point after(std::uint64_t milliseconds)
{
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

void expect(tavisk_client *client, Awaiting what, std::int64_t id, Clock::time_point deadline)
{
    client->awaiting = what;
    client->awaitedId = id;
    client->deadline = deadline;
}

// Sends one request line. A helper that has gone is noticed by the end of its reply channel,
// with its exit status; only one that reads nothing for `waitMs` fails here.
tavisk_status sendLine(tavisk_client *client, const std::string &line, std::uint32_t waitMs)
{
    if (client->transcript != nullptr)
        client->transcript(client->transcriptContext, '>', line.c_str());
    if (client->child.requestFd < 0)
        return TAVISK_OK;
    const SendOutcome outcome = sendAll(client->child.requestFd, line + "\n", after(waitMs));
    if (outcome == SendOutcome::Stuck)
        return fail(client, TAVISK_HELPER_UNRESPONSIVE, "the helper does not read its requests");
    if (outcome == SendOutcome::Gone)
        closeDescriptor(client->child.requestFd);
    return TAVISK_OK;
}

std::string requestLine(std::int64_t id, const char *method)
{
    std::string line = "{";
    if (id != 0)
        line += "\"id\":" + std::to_string(id) + ",";
    line += "\"jsonrpc\":\"2.0\",\"method\":\"";
    line += method;
    line += "\"}";
    return line;
}

tavisk_status sendNavigate(tavisk_client *client)
{
    const std::string line = std::move(client->queuedNavigate);
    client->queuedNavigate.clear();
    expect(client, Awaiting::Navigate, client->nextId - 1,
           after(std::uint64_t{client->queuedLimitMs} + client->replyWaitMs));
    return sendLine(client, line, client->replyWaitMs);
}

tavisk_status handleLine(tavisk_client *client, const std::string &line)
{
    if (client->transcript != nullptr)
        client->transcript(client->transcriptContext, '<', line.c_str());
    if (client->awaiting == Awaiting::Nothing)
        return fail(client, TAVISK_PROTOCOL_ERROR,
                    "the helper sent a line that answers no request: " + excerpt(line));
    const Awaiting answered = client->awaiting;
    const Reply reply = readReply(line);
    if (reply.kind == Reply::Kind::NotAReply || reply.id != static_cast<double>(client->awaitedId))
        return fail(client, TAVISK_PROTOCOL_ERROR,
                    std::string("the helper's answer to ") + methodName(answered)
                        + " is not a reply to it: " + excerpt(line));
    client->awaiting = Awaiting::Nothing;

    if (answered == Awaiting::Forget) {
        if (reply.kind == Reply::Kind::Result)
            return TAVISK_OK;
        const NavigateOutcome refusal = navigateOutcomeOf(reply);
        if (refusal.kind != NavigateOutcome::Kind::Failed)
            return fail(client, TAVISK_PROTOCOL_ERROR,
                        "the helper's answer to forget holds neither a result nor an error");
        client->message = refusal.text;
        return TAVISK_SIGNIN_FAILED;
    }
    if (answered == Awaiting::Hello) {
        const std::int64_t version = protocolVersionOf(reply);
        if (version != TAVISK_CLIENT_PROTOCOL_VERSION)
            return fail(client, TAVISK_PROTOCOL_ERROR,
                        "the helper speaks protocol version " + std::to_string(version)
                            + "; this client speaks version "
                            + std::to_string(TAVISK_CLIENT_PROTOCOL_VERSION));
        client->helperName = helperNameOf(reply);
        client->helloAnswered = true;
        if (client->signInInFlight) {
            const tavisk_status sent = sendNavigate(client);
            if (sent != TAVISK_OK)
                return sent;
        }
        return TAVISK_PENDING;
    }

    const NavigateOutcome outcome = navigateOutcomeOf(reply);
    client->signInInFlight = false;
    switch (outcome.kind) {
    case NavigateOutcome::Kind::SignedIn:
        client->redirectUrl = outcome.text;
        client->form = outcome.form;
        client->message.clear();
        return TAVISK_OK;
    case NavigateOutcome::Kind::Failed:
        client->message = outcome.text;
        if (outcome.text == kInteractionRequired)
            return TAVISK_INTERACTION_REQUIRED;
        return failedSignInStatus(client, outcome);
    case NavigateOutcome::Kind::Malformed:
        break;
    }
    return fail(client, TAVISK_PROTOCOL_ERROR,
                "the helper's answer to navigate holds neither a result nor an error");
}

// The whole lines already received, one at a time, until one finishes something.
tavisk_status handleBufferedLines(tavisk_client *client)
{
    std::string line;
    while (client->replies.takeLine(line)) {
        const tavisk_status status = handleLine(client, line);
        if (status != TAVISK_PENDING)
            return status;
    }
    return TAVISK_PENDING;
}

tavisk_status reportEnd(tavisk_client *client)
{
    std::string how = "its status is not known";
    if (!client->reaped) {
        int status = 0;
        const WaitOutcome outcome
            = waitForExit(client->child.pid, Clock::now() + kEndingWait, status);
        if (outcome == WaitOutcome::Exited) {
            client->reaped = true;
            client->exitStatus = status;
            client->child.pid = -1;
        } else if (outcome == WaitOutcome::Running) {
            how = "it still runs";
        }
    }
    if (client->reaped)
        how = describeWaitStatus(client->exitStatus);
    if (client->awaiting != Awaiting::Nothing || client->signInInFlight)
        return fail(client, TAVISK_HELPER_ENDED,
                    std::string("the helper ended before it answered ")
                        + methodName(client->awaiting == Awaiting::Nothing ? Awaiting::Navigate
                                                                           : client->awaiting)
                        + " (" + how + ")");
    return fail(client, TAVISK_HELPER_ENDED, "the helper ended (" + how + ")");
}

tavisk_status process(tavisk_client *client)
{
    if (!client->running)
        return refuse(client, "no helper runs; call tavisk_client_start first");
    if (client->failure != TAVISK_OK)
        return client->failure;
    // Lines are handled as they come, so that the buffer never holds more than one line that
    // is still arriving plus one read.
    while (true) {
        const tavisk_status status = handleBufferedLines(client);
        if (status != TAVISK_PENDING)
            return status;
        if (client->replyEnded)
            return reportEnd(client);
        client->chunk.clear();
        const ReadOutcome outcome = readSome(client->child.replyFd, client->chunk);
        if (outcome == ReadOutcome::Nothing)
            break;
        if (outcome == ReadOutcome::EndOfFile) {
            // Bytes after the last newline are no reply.
            client->replyEnded = true;
            continue;
        }
        if (outcome == ReadOutcome::Failed)
            return fail(client, TAVISK_HELPER_ENDED,
                        std::string("cannot read the helper's replies: ") + errorText(errno));
        if (!client->replies.append(client->chunk.data(), client->chunk.size()))
            return fail(client, TAVISK_PROTOCOL_ERROR,
                        "the helper sent a line longer than "
                            + std::to_string(TAVISK_CLIENT_MAX_REPLY_BYTES) + " bytes");
    }
    if (client->awaiting != Awaiting::Nothing && Clock::now() >= client->deadline)
        return fail(client, TAVISK_HELPER_UNRESPONSIVE,
                    std::string("the helper did not answer ") + methodName(client->awaiting)
                        + " in time");
    return TAVISK_PENDING;
}

tavisk_status checkString(tavisk_client *client, const char *text, const char *what)
{
    if (text != nullptr && !isValidUtf8(text)) {
        client->message = std::string(what) + " is not UTF-8";
        return TAVISK_BAD_CALL;
    }
    return TAVISK_OK;
}

tavisk_status navigate(tavisk_client *client, const char *url, const char *redirectUri,
                       const char *title, const char *userAgent, std::uint32_t timeoutMs)
{
    if (!client->running)
        return refuse(client, "no helper runs; call tavisk_client_start first");
    if (client->failure != TAVISK_OK)
        return client->failure;
    if (client->signInInFlight)
        return refuse(client, "a sign-in is already in flight");
    if (url == nullptr || redirectUri == nullptr)
        return refuse(client, "a sign-in needs a url and a redirect_uri");
    for (const auto &[text, what] :
         {std::pair{url, "the url"}, std::pair{redirectUri, "the redirect_uri"},
          std::pair{title, "the title"}, std::pair{userAgent, "the user_agent"}}) {
        if (checkString(client, text, what) != TAVISK_OK)
            return TAVISK_BAD_CALL;
    }

    // Members in ascending order of key, as the helper writes its own.
    const std::int64_t id = client->nextId++;
    std::string line = "{\"id\":" + std::to_string(id)
        + ",\"jsonrpc\":\"2.0\",\"method\":\"navigate\",\"params\":{";
    if (!client->parentWindow.empty()) {
        line += "\"parent_window\":";
        appendJsonString(line, client->parentWindow.c_str());
        line += ",";
    }
    line += "\"redirect_uri\":";
    appendJsonString(line, redirectUri);
    if (!client->session.empty()) {
        line += ",\"session\":";
        appendJsonString(line, client->session.c_str());
    }
    if (client->silent)
        line += ",\"silent\":true";
    if (timeoutMs != 0)
        line += ",\"timeout_ms\":" + std::to_string(timeoutMs);
    line += ",\"title\":";
    appendJsonString(line, title != nullptr ? title : "");
    line += ",\"url\":";
    appendJsonString(line, url);
    if (userAgent != nullptr && *userAgent != '\0') {
        line += ",\"user_agent\":";
        appendJsonString(line, userAgent);
    }
    line += "}}";

    client->redirectUrl.clear();
    client->form.clear();
    client->failureHost.clear();
    client->failureError.clear();
    client->message.clear();
    client->queuedNavigate = std::move(line);
    client->queuedLimitMs = timeoutMs != 0 ? timeoutMs : kHelperDefaultLimitMs;
    client->signInInFlight = true;
    if (!client->helloAnswered || client->awaiting != Awaiting::Nothing)
        return TAVISK_OK; // handleLine sends it with the hello answer
    return sendNavigate(client);
}

// Waits until the helper's reply channel is readable or the awaited reply is late.
tavisk_status awaitReadable(tavisk_client *client)
{
    pollfd entry{client->child.replyFd, POLLIN, 0};
    const int ready = poll(&entry, 1, tavisk_client_timeout_ms(client));
    if (ready < 0 && errno != EINTR)
        return fail(client, TAVISK_HELPER_ENDED,
                    std::string("cannot wait for the helper: ") + errorText(errno));
    return TAVISK_PENDING;
}

// Processes the helper's lines until something finishes, waiting on its descriptor meanwhile.
tavisk_status waitForOutcome(tavisk_client *client)
{
    while (true) {
        tavisk_status status = process(client);
        if (status == TAVISK_PENDING)
            status = awaitReadable(client);
        if (status != TAVISK_PENDING)
            return status;
    }
}

tavisk_status forget(tavisk_client *client, const char *session)
{
    if (!client->running)
        return refuse(client, "no helper runs; call tavisk_client_start first");
    if (client->failure != TAVISK_OK)
        return client->failure;
    if (client->signInInFlight)
        return refuse(client, "a sign-in is in flight");
    if (session == nullptr || *session == '\0')
        return refuse(client, "forget needs a session name");
    if (checkString(client, session, "the session") != TAVISK_OK)
        return TAVISK_BAD_CALL;
    // The hello answer comes first; nothing else can be awaited here, no sign-in being in
    // flight.
    while (client->awaiting == Awaiting::Hello) {
        tavisk_status status = process(client);
        if (status == TAVISK_PENDING && client->awaiting == Awaiting::Hello)
            status = awaitReadable(client);
        if (status != TAVISK_PENDING)
            return status;
    }
    const std::int64_t id = client->nextId++;
    std::string line = "{\"id\":" + std::to_string(id)
        + ",\"jsonrpc\":\"2.0\",\"method\":\"forget\",\"params\":{\"session\":";
    appendJsonString(line, session);
    line += "}}";
    client->message.clear();
    expect(client, Awaiting::Forget, id, after(client->replyWaitMs));
    const tavisk_status sent = sendLine(client, line, client->replyWaitMs);
    if (sent != TAVISK_OK)
        return sent;
    return waitForOutcome(client);
}

tavisk_status start(tavisk_client *client, const char *helper)
{
    if (client->running)
        return refuse(client, "a helper already runs; close it first");
    std::string path;
    if (helper != nullptr) {
        path = resolveGivenHelper(helper);
        if (path.empty()) {
            client->message = std::string("cannot find the helper ") + helper + " on PATH";
            return TAVISK_HELPER_NOT_FOUND;
        }
    } else {
        const std::string program
            = client->program.empty() ? resolvedPath("/proc/self/exe") : client->program;
        std::string searched;
        path = defaultHelperPath(program.c_str(), searched);
        if (path.empty()) {
            client->message = std::string("cannot find the helper ") + kHelperName + " (looked in "
                + searched + ")";
            return TAVISK_HELPER_NOT_FOUND;
        }
    }

    std::string error;
    HelperChild child;
    if (!spawnHelper(path, client->arguments, client->outputFd, child, error)) {
        client->message = error;
        return TAVISK_START_FAILED;
    }
    client->child = child;
    client->running = true;
    client->reaped = false;
    client->replies.clear();
    client->replyEnded = false;
    client->nextId = 1;
    client->helloAnswered = false;
    client->signInInFlight = false;
    client->queuedNavigate.clear();
    client->failure = TAVISK_OK;
    client->message.clear();
    client->redirectUrl.clear();
    client->form.clear();
    client->failureHost.clear();
    client->failureError.clear();
    client->helperName.clear();

    const std::int64_t id = client->nextId++;
    expect(client, Awaiting::Hello, id, after(client->replyWaitMs));
    return sendLine(client, requestLine(id, "hello"), client->replyWaitMs);
}

tavisk_status close(tavisk_client *client, std::uint32_t exitWaitMs)
{
    if (!client->running)
        return TAVISK_OK;
    if (client->child.requestFd >= 0) {
        // A helper that reads nothing gets no more than a moment for its exit request.
        sendLine(client, requestLine(0, "exit"), 100);
        closeDescriptor(client->child.requestFd);
    }

    tavisk_status result = TAVISK_OK;
    std::string text;
    if (!client->reaped) {
        int status = 0;
        WaitOutcome outcome = waitForExit(client->child.pid, after(exitWaitMs), status);
        if (outcome == WaitOutcome::Running) {
            kill(client->child.pid, SIGTERM);
            outcome = waitForExit(client->child.pid, Clock::now() + kTermWait, status);
            text = "the helper did not end within " + std::to_string(exitWaitMs)
                + " ms; stopped it with SIGTERM";
            if (outcome == WaitOutcome::Running) {
                kill(client->child.pid, SIGKILL);
                outcome = waitForExit(client->child.pid, Clock::time_point::max(), status);
                text = "the helper did not end within " + std::to_string(exitWaitMs)
                    + " ms or after SIGTERM; killed it with SIGKILL";
            }
            result = TAVISK_HELPER_ENDED;
        }
        if (outcome == WaitOutcome::Exited) {
            client->reaped = true;
            client->exitStatus = status;
        } else if (text.empty()) {
            text = "the helper ended, but its exit status is not known";
            result = TAVISK_HELPER_ENDED;
        }
    }
    if (text.empty() && client->reaped
        && !(WIFEXITED(client->exitStatus) && WEXITSTATUS(client->exitStatus) == 0)) {
        text = "the helper ended with " + describeWaitStatus(client->exitStatus);
        result = TAVISK_HELPER_ENDED;
    }
    closeDescriptor(client->child.replyFd);
    client->child = HelperChild();
    client->running = false;
    client->awaiting = Awaiting::Nothing;
    client->signInInFlight = false;
    client->queuedNavigate.clear();
    client->failure = TAVISK_OK;
    client->replies.clear();
    client->message = text;
    return result;
}

} // namespace

extern "C" {

tavisk_client *tavisk_client_new(void)
{
    return new (std::nothrow) tavisk_client();
}

void tavisk_client_free(tavisk_client *client)
{
    if (client == nullptr)
        return;
    guarded(client, [&] { return close(client, TAVISK_CLIENT_DEFAULT_EXIT_WAIT_MS); });
    delete client;
}

tavisk_status tavisk_client_set_program(tavisk_client *client, const char *argv0)
{
    return guarded(client, [&] {
        client->program = argv0 != nullptr ? argv0 : "";
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_add_argument(tavisk_client *client, const char *argument)
{
    return guarded(client, [&] {
        if (argument == nullptr)
            return refuse(client, "an argument may not be null");
        client->arguments.emplace_back(argument);
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_set_output_fd(tavisk_client *client, int fd)
{
    return guarded(client, [&] {
        if (fd < 0)
            return refuse(client, "the output descriptor must be 0 or more");
        client->outputFd = fd;
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_set_reply_wait_ms(tavisk_client *client, uint32_t milliseconds)
{
    return guarded(client, [&] {
        client->replyWaitMs
            = milliseconds != 0 ? milliseconds : TAVISK_CLIENT_DEFAULT_REPLY_WAIT_MS;
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_set_transcript(tavisk_client *client, tavisk_transcript_fn transcript,
                                           void *context)
{
    return guarded(client, [&] {
        client->transcript = transcript;
        client->transcriptContext = context;
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_set_parent_window(tavisk_client *client, const char *parent_window)
{
    return guarded(client, [&] {
        if (checkString(client, parent_window, "the parent_window") != TAVISK_OK)
            return TAVISK_BAD_CALL;
        client->parentWindow = parent_window != nullptr ? parent_window : "";
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_set_session(tavisk_client *client, const char *session)
{
    return guarded(client, [&] {
        if (checkString(client, session, "the session") != TAVISK_OK)
            return TAVISK_BAD_CALL;
        client->session = session != nullptr ? session : "";
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_set_silent(tavisk_client *client, int silent)
{
    return guarded(client, [&] {
        client->silent = silent != 0;
        return TAVISK_OK;
    });
}

tavisk_status tavisk_client_forget(tavisk_client *client, const char *session)
{
    return guarded(client, [&] { return forget(client, session); });
}

tavisk_status tavisk_client_start(tavisk_client *client, const char *helper)
{
    return guarded(client, [&] { return start(client, helper); });
}

tavisk_status tavisk_client_navigate(tavisk_client *client, const char *url,
                                     const char *redirect_uri, const char *title,
                                     const char *user_agent, uint32_t timeout_ms)
{
    return guarded(
        client, [&] { return navigate(client, url, redirect_uri, title, user_agent, timeout_ms); });
}

int tavisk_client_fd(const tavisk_client *client)
{
    return client != nullptr && client->running ? client->child.replyFd : -1;
}

int tavisk_client_timeout_ms(const tavisk_client *client)
{
    if (client == nullptr || !client->running || client->failure != TAVISK_OK
        || client->awaiting == Awaiting::Nothing)
        return -1;
    return millisecondsUntil(client->deadline);
}

tavisk_status tavisk_client_process(tavisk_client *client)
{
    return guarded(client, [&] { return process(client); });
}

tavisk_status tavisk_client_sign_in(tavisk_client *client, const char *url,
                                    const char *redirect_uri, const char *title,
                                    const char *user_agent, uint32_t timeout_ms)
{
    return guarded(client, [&] {
        const tavisk_status begun
            = navigate(client, url, redirect_uri, title, user_agent, timeout_ms);
        if (begun != TAVISK_OK)
            return begun;
        return waitForOutcome(client);
    });
}

tavisk_status tavisk_client_cancel(tavisk_client *client)
{
    return guarded(client, [&] {
        if (!client->running)
            return refuse(client, "no helper runs; call tavisk_client_start first");
        if (client->failure != TAVISK_OK)
            return client->failure;
        // No reply ever comes: the id only keeps ids unique in logs.
        return sendLine(client, requestLine(client->nextId++, "cancel"), client->replyWaitMs);
    });
}

tavisk_status tavisk_client_close(tavisk_client *client, uint32_t exit_wait_ms)
{
    return guarded(client, [&] { return close(client, exit_wait_ms); });
}

const char *tavisk_client_redirect_url(const tavisk_client *client)
{
    return client != nullptr ? client->redirectUrl.c_str() : "";
}

const char *tavisk_client_form_field(const tavisk_client *client, const char *name)
{
    if (client == nullptr || name == nullptr)
        return nullptr;
    for (const auto &[fieldName, value] : client->form) {
        if (fieldName == name)
            return value.c_str();
    }
    return nullptr;
}

const char *tavisk_client_message(const tavisk_client *client)
{
    if (client == nullptr)
        return "no handle";
    return client->outOfMemory ? "out of memory" : client->message.c_str();
}

const char *tavisk_client_failure_host(const tavisk_client *client)
{
    return client != nullptr ? client->failureHost.c_str() : "";
}

const char *tavisk_client_failure_error(const tavisk_client *client)
{
    return client != nullptr ? client->failureError.c_str() : "";
}

const char *tavisk_client_helper_name(const tavisk_client *client)
{
    return client != nullptr ? client->helperName.c_str() : "";
}

pid_t tavisk_client_pid(const tavisk_client *client)
{
    return client != nullptr && client->running && !client->reaped ? client->child.pid : -1;
}

const char *tavisk_status_name(tavisk_status status)
{
    switch (status) {
    case TAVISK_OK:
        return "ok";
    case TAVISK_PENDING:
        return "pending";
    case TAVISK_SIGNIN_FAILED:
        return "sign-in failed";
    case TAVISK_HELPER_NOT_FOUND:
        return "helper not found";
    case TAVISK_START_FAILED:
        return "start failed";
    case TAVISK_HELPER_ENDED:
        return "helper ended";
    case TAVISK_HELPER_UNRESPONSIVE:
        return "helper unresponsive";
    case TAVISK_PROTOCOL_ERROR:
        return "protocol error";
    case TAVISK_BAD_CALL:
        return "bad call";
    case TAVISK_NO_MEMORY:
        return "out of memory";
    case TAVISK_CERTIFICATE_ERROR:
        return "certificate error";
    case TAVISK_PROXY_ERROR:
        return "proxy error";
    case TAVISK_NETWORK_ERROR:
        return "network error";
    case TAVISK_INTERACTION_REQUIRED:
        return "interaction required";
    }
    return "unknown status";
}

} // extern "C"
