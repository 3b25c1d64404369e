#include "signin/sessionstore.h"

#include <cerrno>
#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kGroupAndOther = 077;
// A forget in another helper may unlink a lock file between our open and our flock; each
// attempt then finds a new file. More than a few in a row means something else is wrong.
constexpr int kLockAttempts = 8;
// Descriptors nftw may keep open while it walks.
constexpr int kWalkDescriptors = 16;

bool isAbsolute(const char *path)
{
    return path != nullptr && path[0] == '/';
}

// mkdir with mode 0700, then chmod, as the umask may have taken bits off the first; a folder
// that exists already is made private too. Folders above `dataFolder` are the user's XDG
// folders: those are made 0700 when missing (as the XDG rules ask) but otherwise left alone.
bool makeFolder(const std::string &path, bool ours)
{
    if (mkdir(path.c_str(), kFolderMode) == 0)
        return chmod(path.c_str(), kFolderMode) == 0;
    if (errno != EEXIST)
        return false;
    struct stat info {
    };
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    return !ours || chmod(path.c_str(), kFolderMode) == 0;
}

bool makeFolders(const std::string &dataFolder, const std::string &path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string step = path.substr(0, slash);
        if (!makeFolder(step, step.size() >= dataFolder.size()))
            return false;
    }
    return makeFolder(path, true);
}

// What the walk in progress on this thread could not do: nftw's callbacks take no context.
thread_local bool walkFailed = false;

int stripGroupAndOther(const char *path, const struct stat *info, int type, FTW *where)
{
    (void)where;
    if (type == FTW_SL || type == FTW_SLN)
        return 0;
    if (type == FTW_NS || type == FTW_DNR
        || ((info->st_mode & kGroupAndOther) != 0
            && chmod(path, info->st_mode & 07777 & ~kGroupAndOther) != 0))
        walkFailed = true;
    return 0;
}

int removeEntry(const char *path, const struct stat *info, int type, FTW *where)
{
    (void)info;
    (void)type;
    (void)where;
    if (remove(path) != 0 && errno != ENOENT)
        walkFailed = true;
    return 0;
}

// A descriptor of `path` locked with flock, or -1 with `busy` telling whether another holder
// was the reason.
int lockFile(const std::string &path, bool *busy)
{
    *busy = false;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return -1;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *busy = errno == EWOULDBLOCK;
            close(fd);
            return -1;
        }
        // Locked: still the file the path names, or one a forget has unlinked meanwhile?
        struct stat opened {
        };
        struct stat named {
        };
        if (fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0
            && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            fchmod(fd, 0600);
            return fd;
        }
        close(fd);
    }
    return -1;
}

std::string lockPath(const std::string &dataFolder, const std::string &name)
{
    return sessionFolder(dataFolder, name) + ".lock";
}

} // namespace

std::string helperDataFolder(const char *xdgDataHome, const char *home)
{
    if (isAbsolute(xdgDataHome))
        return std::string(xdgDataHome) + "/corvane-tavisk";
    if (isAbsolute(home))
        return std::string(home) + "/.local/share/corvane-tavisk";
    return std::string();
}

std::string sessionFolder(const std::string &dataFolder, const std::string &name)
{
    return dataFolder + "/sessions/" + name;
}

bool makePrivate(const std::string &folder)
{
    walkFailed = false;
    if (nftw(folder.c_str(), stripGroupAndOther, kWalkDescriptors, FTW_PHYS) != 0)
        return false;
    return !walkFailed;
}

SessionRegistry::SessionRegistry(std::string dataFolder)
    : folder(std::move(dataFolder))
{ }

SessionRegistry::~SessionRegistry()
{
    for (const auto &[name, fd] : held)
        close(fd);
}

SessionRegistry::Claim SessionRegistry::claim(const std::string &name)
{
    if (held.count(name) != 0)
        return Claim::Claimed;
    if (folder.empty() || !makeFolders(folder, folder + "/sessions"))
        return Claim::Unavailable;
    bool busy = false;
    const int fd = lockFile(lockPath(folder, name), &busy);
    if (fd < 0)
        return busy ? Claim::InUse : Claim::Unavailable;
    if (!makeFolder(sessionFolder(folder, name), true)) {
        close(fd);
        return Claim::Unavailable;
    }
    held.emplace(name, fd);
    // From now on the engine writes below this folder, with modes of its own: the process's
    // umask keeps what it makes private from the first byte, and makePrivate catches the rest.
    umask(kGroupAndOther);
    return Claim::Claimed;
}

SessionRegistry::Forget SessionRegistry::forget(const std::string &name)
{
    if (held.count(name) != 0)
        return Forget::InUse;
    if (folder.empty())
        return Forget::Unavailable;
    const std::string session = sessionFolder(folder, name);
    const std::string lock = lockPath(folder, name);
    struct stat info {
    };
    if (lstat(session.c_str(), &info) != 0 && errno == ENOENT && lstat(lock.c_str(), &info) != 0
        && errno == ENOENT)
        return Forget::Forgotten;
    bool busy = false;
    const int fd = lockFile(lock, &busy);
    if (fd < 0)
        return busy ? Forget::InUse : Forget::Unavailable;
    walkFailed = false;
    const bool walked
        = nftw(session.c_str(), removeEntry, kWalkDescriptors, FTW_DEPTH | FTW_PHYS) == 0
        || errno == ENOENT;
    const bool removed = walked && !walkFailed;
    // The lock file goes last, while still locked: a helper that opened it meanwhile finds it
    // unlinked once it gets the lock, and makes a new one.
    if (removed)
        unlink(lock.c_str());
    close(fd);
    return removed ? Forget::Forgotten : Forget::Unavailable;
}
