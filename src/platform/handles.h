// Channel handles in the style of the portable runtime the helper was designed against:
// Windows-style handle operations over POSIX file descriptors. A handle's textual form on the
// command line is a decimal file descriptor.
#pragma once

#include <cstdint>

namespace platform {

using HANDLE = void *;
using BOOL = int;
using DWORD = std::uint32_t;

// All bits set; like a null handle it means "no handle".
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Imports the handle whose textual form stands in `text` where `pattern` has "{}", for example
// text "--cmdInFd=5" with pattern "--cmdInFd={}". The text must match the pattern around a whole
// decimal number that names an open descriptor; anything else gives INVALID_HANDLE_VALUE. The
// descriptor is marked close-on-exec so that no process the helper starts inherits a channel.
HANDLE selvo_importHandleFromString(const char *text, const char *pattern);

// Reads up to `size` bytes. Non-zero on success; `*bytesRead` 0 with success means end of input.
// Interrupted reads are retried. `overlapped` must be null.
BOOL ReadFile(HANDLE handle, void *buffer, DWORD size, DWORD *bytesRead, void *overlapped);

// Writes up to `size` bytes; `*bytesWritten` may be less than asked. Non-zero on success. A write
// to a channel whose reader has gone fails here instead of raising SIGPIPE, and leaves no SIGPIPE
// pending for the calling thread. `overlapped` must be null.
BOOL WriteFile(HANDLE handle, const void *buffer, DWORD size, DWORD *bytesWritten,
               void *overlapped);

// Closes the descriptor behind the handle. Non-zero on success.
BOOL CloseHandle(HANDLE handle);

// The descriptor behind a handle, or -1 for a null or invalid one.
int descriptorOf(HANDLE handle);

// The handle for an already open descriptor; for tests and tools that make their own channels.
HANDLE handleFromDescriptor(int fd);

} // namespace platform
