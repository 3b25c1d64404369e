// The floor of a line channel that speaks JSON the way the helper must: each line parsed with
// QJsonDocument::fromJson, and each object answered with a reply object serialised compactly,
// one write(2) per reply. The hello result is built once. No threads, no dispatch, no handles:
// what is left is the cost of Qt's JSON per request.
#include "jsonfloor.h"
#include "writeall.h"

#include <cerrno>
#include <string>
#include <unistd.h>

int main()
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        pending.append(buffer, static_cast<std::size_t>(n));
        const bool written = answerJsonLines(pending, [](const char *data, std::size_t size) {
            return writeAll(STDOUT_FILENO, data, size);
        });
        if (!written)
            return 0;
    }
}
