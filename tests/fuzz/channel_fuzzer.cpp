// Feeds arbitrary bytes through the real command loop as the in-channel and holds the replies to
// a plain model of the protocol: one well-formed JSON-RPC 2.0 object per line, one reply per
// hello, shutdown and navigate line before an exit, in order, with the request's id, and the
// outcome the window produced for each navigate. The window is played synchronously while the
// open request is being posted, so no navigate ever sleeps: the wait is complete before its
// wait loop starts.
//
// Any violation traps, which libFuzzer reports as a crash with the input that caused it.

#include "channel/commandloop.h"
#include "channel/guicalls.h"
#include "channel/replies.h"
#include "platform/handles.h"
#include "signin/helperstate.h"
#include "signin/redirect.h"
#include "signin/sessionname.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// Reports what broke before trapping: a bare trap would leave only a stack in the log.
[[noreturn]] void violation(const char *what)
{
    std::fprintf(stderr, "channel fuzzer: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

void check(bool holds, const char *what)
{
    if (!holds)
        violation(what);
}

// One in-memory file each way, made once and emptied before every input: creating files per
// input would cost more than the command loop itself.
int inFd = -1;
int outFd = -1;

int memoryFile(const char *name)
{
    const int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    return fd;
}

void rewindEmpty(int fd)
{
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        std::perror("resetting a channel file");
        std::abort();
    }
}

void writeAll(int fd, const std::uint8_t *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) {
            std::perror("writing the input");
            std::abort();
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string readAll(int fd)
{
    std::string contents;
    char buffer[8192];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0) {
            std::perror("reading the replies");
            std::abort();
        }
        if (n == 0)
            return contents;
        contents.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

// The reply the window's outcome calls for.
struct ExpectedNavigate {
    bool success = false;
    QString text; // the redirect URL on success, the error message otherwise
};

// The GUI thread as the command thread sees it. The window offers the page's URL to redirect
// recognition, so a request whose "url" begins with its "redirect_uri" ends as a redirect (with
// or without the provider's error); any other request ends as if the user closed the window,
// with the title as the failure text, so that empty and arbitrary messages both reach a reply.
struct Window {
    int opens = 0;
    int hides = 0;
    int quits = 0;
    bool hiddenBeforeQuit = true;
    std::deque<ExpectedNavigate> outcomes;
    GuiCalls calls;

    Window()
    {
        calls.postOpenSignInWindow = [this](HelperState *state, const SignInPage &page) {
            ++opens;
            check(quits == 0, "a window was opened after quit");
            NavigationWait *wait = nullptr;
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                wait = state->activeWait;
            }
            check(wait != nullptr, "a window was opened with no wait published");

            const std::string url = page.url.toString().toStdString();
            if (!tryCompleteRedirect(*state, url)) {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->completeNavigation(false, std::string(), page.title.toStdString());
            }
            // The request's frame, and so its wait, lives until the reply has been written.
            std::lock_guard<std::mutex> waitLock(wait->mutex);
            check(wait->done, "the window's outcome did not complete the wait");
            ExpectedNavigate expected;
            expected.success = wait->success;
            if (wait->success)
                expected.text = QString::fromStdString(wait->redirectUrl);
            else
                expected.text = wait->message.empty() ? QStringLiteral("user_cancelled")
                                                      : QString::fromStdString(wait->message);
            outcomes.push_back(expected);
        };
        calls.postHideSignInWindow = [this](HelperState *) {
            ++hides;
            check(hides <= opens, "a window was hidden that was never opened");
        };
        calls.postQuitApplication = [this](HelperState *) {
            ++quits;
            hiddenBeforeQuit = hides == opens;
        };
    }
};

// What the model expects as the answer to one request line.
struct ExpectedReply {
    enum Kind { Hello, Shutdown, Navigate, Refused } kind;
    bool checkId = false; // ids beyond 2^53 lose precision as doubles: not compared
    double id = 0;
    QString refusal; // Refused: the error message
};

// A request's "session" names no session that this state can hold (it has no session registry,
// as a helper whose data folder cannot be made): the error that refuses it, or nothing when
// the request names no session and `needsSession` is false.
QString sessionRefusal(const QJsonObject &request, bool needsSession)
{
    const QJsonValue params = request.value(QStringLiteral("params"));
    const QJsonValue session = params.isObject()
        ? params.toObject().value(QStringLiteral("session"))
        : QJsonValue(QJsonValue::Undefined);
    if (session.isUndefined() && !needsSession)
        return QString();
    if (!session.isString() || !isValidSessionName(session.toString().toStdString()))
        return QStringLiteral("invalid_session_name");
    return QStringLiteral("session_unavailable");
}

// The requests of `input` that call for a reply, framed and dispatched independently of the
// command loop: lines end at "\n", the bytes after the last one are never handled, and nothing
// after an "exit" is.
std::vector<ExpectedReply> expectedReplies(const std::string &input)
{
    std::vector<ExpectedReply> expected;
    std::size_t start = 0;
    for (std::size_t end; (end = input.find('\n', start)) != std::string::npos; start = end + 1) {
        const QJsonDocument document = QJsonDocument::fromJson(
            QByteArray(input.data() + start, static_cast<qsizetype>(end - start)));
        if (!document.isObject())
            continue;
        const QJsonObject request = document.object();
        const QJsonValue method = request.value(QStringLiteral("method"));
        if (!method.isString())
            continue;
        const QString name = method.toString();
        ExpectedReply reply{};
        if (name == QStringLiteral("hello"))
            reply.kind = ExpectedReply::Hello;
        else if (name == QStringLiteral("shutdown"))
            reply.kind = ExpectedReply::Shutdown;
        else if (name == QStringLiteral("navigate"))
            reply.kind = ExpectedReply::Navigate;
        else if (name == QStringLiteral("forget"))
            reply.kind = ExpectedReply::Refused;
        else if (name == QStringLiteral("exit"))
            break;
        else
            continue;
        if (reply.kind == ExpectedReply::Navigate || reply.kind == ExpectedReply::Refused) {
            reply.refusal = sessionRefusal(request, reply.kind == ExpectedReply::Refused);
            if (!reply.refusal.isEmpty())
                reply.kind = ExpectedReply::Refused;
        }
        const QJsonValue id = request.value(QStringLiteral("id"));
        if (!id.isDouble()) {
            reply.checkId = true; // no number: id 0
        } else if (std::fabs(id.toDouble()) < 9007199254740992.0) {
            reply.checkId = true;
            reply.id = std::trunc(id.toDouble());
        }
        expected.push_back(reply);
    }
    return expected;
}

QJsonObject parseReplyLine(const std::string &line)
{
    check(line.find('\r') == std::string::npos, "a reply line holds a carriage return");
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(line.data(), static_cast<qsizetype>(line.size())), &error);
    check(error.error == QJsonParseError::NoError, "a reply line is not valid JSON");
    check(document.isObject(), "a reply line is not a JSON object");
    return document.object();
}

void checkReply(const QJsonObject &reply, const ExpectedReply &expected, Window &window)
{
    check(reply.value(QStringLiteral("jsonrpc")) == QJsonValue(QStringLiteral("2.0")),
          "a reply lacks \"jsonrpc\":\"2.0\"");
    const QJsonValue id = reply.value(QStringLiteral("id"));
    check(id.isDouble(), "a reply lacks a numeric id");
    if (expected.checkId)
        check(id.toDouble() == expected.id, "a reply carries another id than its request");
    const bool hasResult = reply.contains(QStringLiteral("result"));
    const bool hasError = reply.contains(QStringLiteral("error"));
    check(hasResult != hasError, "a reply holds both or neither of result and error");
    check(reply.size() == 3, "a reply holds members beyond jsonrpc, id and result/error");

    if (hasError) {
        const QJsonValue error = reply.value(QStringLiteral("error"));
        check(error.isObject(), "an error member is not an object");
        const QJsonObject object = error.toObject();
        check(object.size() == 2 && object.value(QStringLiteral("code")) == QJsonValue(1)
                  && object.value(QStringLiteral("message")).isString(),
              "an error object is not exactly code 1 and a message string");
    }

    switch (expected.kind) {
    case ExpectedReply::Hello: {
        QJsonObject hello;
        hello.insert(QStringLiteral("protocol_version"), 1);
        hello.insert(QStringLiteral("helper"), QStringLiteral("corvane-tavisk/1.0"));
        check(reply.value(QStringLiteral("result")) == QJsonValue(hello),
              "a hello was answered with another result");
        break;
    }
    case ExpectedReply::Shutdown:
        check(hasResult && reply.value(QStringLiteral("result")).isNull(),
              "a shutdown was answered with another result than null");
        break;
    case ExpectedReply::Navigate: {
        check(!window.outcomes.empty(), "a navigate was answered without opening the window");
        const ExpectedNavigate outcome = window.outcomes.front();
        window.outcomes.pop_front();
        if (outcome.success) {
            QJsonObject result;
            result.insert(QStringLiteral("status"), QStringLiteral("ok"));
            result.insert(QStringLiteral("redirect_url"), outcome.text);
            check(reply.value(QStringLiteral("result")) == QJsonValue(result),
                  "a completed sign-in was not answered with ok and its redirect URL");
        } else {
            check(hasError
                      && reply.value(QStringLiteral("error"))
                              .toObject()
                              .value(QStringLiteral("message"))
                          == QJsonValue(outcome.text),
                  "a failed sign-in was not answered with its failure text");
        }
        break;
    }
    case ExpectedReply::Refused:
        check(
            hasError
                && reply.value(QStringLiteral("error")).toObject().value(QStringLiteral("message"))
                    == QJsonValue(expected.refusal),
            "a request for a session that cannot be held was not refused with its reason");
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    inFd = memoryFile("tavisk-fuzz-in");
    outFd = memoryFile("tavisk-fuzz-out");
    cmdInHandle = platform::handleFromDescriptor(inFd);
    cmdOutHandle = platform::handleFromDescriptor(outFd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    rewindEmpty(inFd);
    rewindEmpty(outFd);
    writeAll(inFd, data, size);
    if (::lseek(inFd, 0, SEEK_SET) != 0)
        std::abort();

    HelperState state;
    Window window;
    commandLoop(&state, window.calls);

    check(window.quits == 1, "quit was not posted exactly once");
    check(window.hiddenBeforeQuit, "a window opened for a navigate was never hidden");
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        check(state.activeWait == nullptr, "a wait is still published after the loop ended");
    }

    const std::string output = readAll(outFd);
    check(output.empty() || output.back() == '\n', "the last reply line is unterminated");
    const std::vector<ExpectedReply> expected
        = expectedReplies(std::string(reinterpret_cast<const char *>(data), size));
    std::size_t replies = 0;
    for (std::size_t start = 0, end; start < output.size(); start = end + 1) {
        end = output.find('\n', start);
        check(replies < expected.size(), "a reply without a request that calls for one");
        checkReply(parseReplyLine(output.substr(start, end - start)), expected[replies], window);
        ++replies;
    }
    check(replies == expected.size(), "a request that calls for a reply got none");
    check(window.outcomes.empty(), "a navigate that opened the window got no reply");
    return 0;
}
