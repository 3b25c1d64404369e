// Finding the helper program to start.
#pragma once

#include <string>

namespace taviskclient {

// The helper's program name, as installed.
inline constexpr const char *kHelperName = "corvane-tavisk";

// `path` with symbolic links and "." and ".." resolved, or empty when it names nothing.
std::string resolvedPath(const std::string &path);

// The path to start for --helper=`given`: a name with a slash is used as it is, a bare name is
// looked up on PATH. Empty when a bare name is on no PATH entry.
std::string resolveGivenHelper(const std::string &given);

// The helper installed beside this program: corvane-tavisk in the directory of `argv0` (as
// invoked, then with symbolic links resolved), else the first corvane-tavisk on PATH. Empty when
// there is none. `searched` names the places looked at, for the error message.
std::string defaultHelperPath(const char *argv0, std::string &searched);

} // namespace taviskclient
