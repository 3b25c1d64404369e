// Writing a whole buffer to a descriptor, for the floor programs.
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

// False when a write fails or writes nothing.
inline bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
