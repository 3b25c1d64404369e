// The floor of a line channel: reads stdin in 4096-byte reads, as the helper does, and writes
// one fixed reply line with one write(2) for every line that came in. No parsing, no JSON.
#include "writeall.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

const char kReply[] = "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"helper\":\"corvane-tavisk/1.0\","
                      "\"protocol_version\":1}}\n";

} // namespace

int main()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        for (const char *p = buffer, *end = buffer + n;
             (p
              = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p))))
             != nullptr;
             ++p) {
            if (!writeAll(STDOUT_FILENO, kReply, sizeof kReply - 1))
                return 0;
        }
    }
}
