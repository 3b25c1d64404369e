#include "helperpath.h"

#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace taviskclient {

namespace {

bool isExecutableFile(const std::string &path)
{
    struct stat info = {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)
        && access(path.c_str(), X_OK) == 0;
}

std::string directoryOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string joined(const std::string &directory, const std::string &name)
{
    return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

// execvp's search: each PATH entry in turn, an empty entry meaning the current directory.
std::string findOnPath(const std::string &name)
{
    // Only a setenv on another thread could race this; a library cannot prevent that.
    const char *path = std::getenv("PATH"); // NOLINT(concurrency-mt-unsafe)
    const std::string entries = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = entries.find(':', start);
        const std::string entry = entries.substr(start, colon - start);
        std::string candidate = joined(entry.empty() ? std::string(".") : entry, name);
        if (isExecutableFile(candidate))
            return candidate;
        if (colon == std::string::npos)
            return std::string();
        start = colon + 1;
    }
}

} // namespace

std::string resolvedPath(const std::string &path)
{
    struct FreeDeleter {
        void operator()(char *p) const { std::free(p); }
    };
    const std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
    return resolved ? std::string(resolved.get()) : std::string();
}

std::string resolveGivenHelper(const std::string &given)
{
    if (given.find('/') != std::string::npos)
        return given;
    return findOnPath(given);
}

std::string defaultHelperPath(const char *argv0, std::string &searched)
{
    searched.clear();
    const std::string self = argv0 != nullptr ? argv0 : "";
    // A bare program name was found on PATH by the shell; look it up the same way.
    const std::string invoked = self.find('/') != std::string::npos
        ? self
        : (self.empty() ? std::string() : findOnPath(self));

    if (!invoked.empty()) {
        std::string directories[2] = {directoryOf(invoked), std::string()};
        const std::string resolved = resolvedPath(invoked);
        if (!resolved.empty() && directoryOf(resolved) != directories[0])
            directories[1] = directoryOf(resolved);
        for (const std::string &directory : directories) {
            if (directory.empty())
                continue;
            std::string candidate = joined(directory, kHelperName);
            if (isExecutableFile(candidate))
                return candidate;
            searched += directory + ", ";
        }
    }
    searched += "PATH";
    return findOnPath(kHelperName);
}

} // namespace taviskclient
