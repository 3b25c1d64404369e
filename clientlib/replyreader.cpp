#include "replyreader.h"

#include <cmath>
#include <cstring>

namespace taviskclient {

bool LineBuffer::append(const char *data, std::size_t size)
{
    if (m_overflowed)
        return false;
    // Lines already handed out go before the buffer grows, so it holds at most the unfinished
    // line plus what this call brings.
    if (m_start > 0) {
        m_pending.erase(0, m_start);
        m_lastNewline = m_lastNewline == std::string::npos || m_lastNewline < m_start
            ? std::string::npos
            : m_lastNewline - m_start;
        m_start = 0;
    }
    std::size_t at = 0;
    while (at < size) {
        const void *found = std::memchr(data + at, '\n', size - at);
        const std::size_t piece = found != nullptr
            ? static_cast<std::size_t>(static_cast<const char *>(found) - (data + at))
            : size - at;
        if (m_tailBytes + piece > m_maxLineBytes) {
            m_overflowed = true;
            return false;
        }
        if (found == nullptr) {
            m_tailBytes += piece;
            break;
        }
        m_lastNewline = m_pending.size() + at + piece;
        m_tailBytes = 0;
        at += piece + 1;
    }
    m_pending.append(data, size);
    return true;
}

bool LineBuffer::takeLine(std::string &line)
{
    // Only a buffer with a newline after m_start is searched, so a long line that arrives in
    // many pieces is not scanned again for each piece.
    if (m_lastNewline == std::string::npos || m_lastNewline < m_start)
        return false;
    const std::size_t newline = m_pending.find('\n', m_start);
    line.assign(m_pending, m_start, newline - m_start);
    m_start = newline + 1;
    return true;
}

void LineBuffer::clear()
{
    m_pending.clear();
    m_start = 0;
    m_lastNewline = std::string::npos;
    m_tailBytes = 0;
    m_overflowed = false;
}

Reply readReply(std::string_view line)
{
    Reply reply;
    if (!parseJson(line, reply.document) || !reply.document.is_object())
        return reply;
    const Json *id = jsonMember(&reply.document, "id");
    if (id == nullptr || !id->is_number())
        return reply;
    reply.id = id->get<double>();
    if (jsonMember(&reply.document, "result") != nullptr)
        reply.kind = Reply::Kind::Result;
    else if (jsonMember(&reply.document, "error") != nullptr)
        reply.kind = Reply::Kind::Error;
    else
        reply.kind = Reply::Kind::Neither;
    return reply;
}

std::int64_t protocolVersionOf(const Reply &reply)
{
    if (reply.kind != Reply::Kind::Result)
        return -1;
    const Json *version = jsonMember(jsonMember(&reply.document, "result"), "protocol_version");
    if (version == nullptr || !version->is_number())
        return -1;
    const double number = version->get<double>();
    if (!std::isfinite(number) || number != std::trunc(number) || number < 0 || number > 1e15)
        return -1;
    return static_cast<std::int64_t>(number);
}

std::string helperNameOf(const Reply &reply)
{
    if (reply.kind != Reply::Kind::Result)
        return std::string();
    const std::string *name
        = jsonString(jsonMember(jsonMember(&reply.document, "result"), "helper"));
    return name != nullptr ? *name : std::string();
}

NavigateOutcome navigateOutcomeOf(const Reply &reply)
{
    NavigateOutcome outcome;
    if (reply.kind == Reply::Kind::Result) {
        const Json *result = jsonMember(&reply.document, "result");
        const std::string *status = jsonString(jsonMember(result, "status"));
        const std::string *url = jsonString(jsonMember(result, "redirect_url"));
        if (status != nullptr && *status == "ok" && url != nullptr) {
            outcome.kind = NavigateOutcome::Kind::SignedIn;
            outcome.text = *url;
            const Json *form = jsonMember(result, "form");
            if (form != nullptr && form->is_object()) {
                for (const auto &[name, value] : form->items()) {
                    if (const std::string *text = jsonString(&value))
                        outcome.form.emplace_back(name, *text);
                }
            }
        }
    } else if (reply.kind == Reply::Kind::Error) {
        const Json *error = jsonMember(&reply.document, "error");
        const std::string *message = jsonString(jsonMember(error, "message"));
        if (message != nullptr) {
            outcome.kind = NavigateOutcome::Kind::Failed;
            outcome.text = *message;
            const Json *data = jsonMember(error, "data");
            if (const std::string *host = jsonString(jsonMember(data, "host")))
                outcome.failureHost = *host;
            if (const std::string *name = jsonString(jsonMember(data, "error")))
                outcome.failureError = *name;
        }
    }
    return outcome;
}

} // namespace taviskclient
