// The names a client may give a kept session.
#pragma once

#include <cstddef>
#include <string>

// The longest session name, in bytes.
constexpr std::size_t kMaxSessionNameBytes = 64;

// True when `name` may name a session: 1 to 64 bytes of ASCII letters, digits and "._-@+", not
// beginning with "." or "-". Such a name is one folder name that cannot leave its parent folder
// (no "/", no "." or "..", no hidden file), cannot be read as an option, and is the same bytes
// in every locale and file system encoding.
bool isValidSessionName(const std::string &name);
