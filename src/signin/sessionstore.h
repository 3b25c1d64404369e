// Kept sessions on disk: where they live, that nobody but the user can read them, and which
// helper uses one. Plain POSIX file calls, no Qt and no display.
//
// Layout, below the helper's data folder (helperDataFolder):
//     sessions/<name>/        the web profile's storage and cache of session <name>
//     sessions/<name>.lock    held with flock by the one helper that uses <name>
// Every folder here is made with mode 0700 and every file is kept at no more than 0600,
// whatever the umask: on a shared machine other users must not even see which sessions exist.
#pragma once

#include <map>
#include <string>

// "$XDG_DATA_HOME/corvane-tavisk" when XDG_DATA_HOME is an absolute path, else
// "$HOME/.local/share/corvane-tavisk" when HOME is one; empty when neither is (a relative
// XDG_DATA_HOME is ignored, as the XDG base directory rules say).
std::string helperDataFolder(const char *xdgDataHome, const char *home);

// The folder of session `name`, below `dataFolder`.
std::string sessionFolder(const std::string &dataFolder, const std::string &name);

// Takes group and other permissions off `folder` and everything below it (symbolic links are
// neither followed nor changed). The engine writes its files with modes of its own; this is
// what holds them to the user. False when something could not be changed.
bool makePrivate(const std::string &folder);

// The sessions this helper holds. Command thread only: navigate and forget are its sole users,
// so no lock guards it.
class SessionRegistry
{
public:
    enum class Claim {
        Claimed,     // the session's folder exists and this helper holds its lock for the run
        InUse,       // another helper holds it
        Unavailable, // no data folder, or a folder or the lock file could not be made
    };
    enum class Forget {
        Forgotten,   // nothing of the session is left on disk (or there never was anything)
        InUse,       // this helper or another one uses it
        Unavailable, // no data folder, or the session could not be deleted completely
    };

    // `dataFolder`: helperDataFolder's answer; empty when there is none.
    explicit SessionRegistry(std::string dataFolder);
    ~SessionRegistry();
    SessionRegistry(const SessionRegistry &) = delete;
    SessionRegistry &operator=(const SessionRegistry &) = delete;

    // Makes the session's folder (and those above it, private) and takes its lock, once: a
    // session claimed before stays claimed. The lock is released only when the helper ends,
    // since the web profile that uses the folder lives as long. `name` must be a valid name.
    Claim claim(const std::string &name);
    // Deletes the session's folder and lock file, holding its lock meanwhile so that no other
    // helper starts using it half deleted. `name` must be a valid name.
    Forget forget(const std::string &name);

    const std::string &dataFolder() const { return folder; }

private:
    const std::string folder;
    std::map<std::string, int> held; // session name -> descriptor of its locked lock file
};
