#include "channel/framing.h"

#include <cstring>

void LineFramer::append(const char *bytes, std::size_t count)
{
    // Drop the lines already handed out before growing, so the buffer holds at most one
    // partial line plus one read.
    if (consumed > 0) {
        pendingInput.erase(0, consumed);
        searched -= consumed;
        consumed = 0;
    }
    pendingInput.append(bytes, count);
}

bool LineFramer::nextLine(std::string &line)
{
    const char *base = pendingInput.data();
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): a byte search, not a string copy
    const void *newline = std::memchr(base + searched, '\n', pendingInput.size() - searched);
    if (newline == nullptr) {
        searched = pendingInput.size();
        return false;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char *>(newline) - base);
    line.assign(pendingInput, consumed, end - consumed);
    consumed = end + 1;
    searched = consumed;
    return true;
}
