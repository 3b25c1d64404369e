// The web profiles that sign-ins run in: the run's own, which keeps everything in memory, and
// one on disk for each kept session a sign-in names.
#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <string>
#include <utility>
#include <vector>

struct SignInPage;
class QWebEngineProfile;
class QWebEngineUrlSchemeHandler;

// Lives on the GUI thread, in the entry point's frame, and goes after every page: the pages of a
// profile must be deleted before the profile.
class SessionProfiles
{
public:
    using SchemeHandlers = std::vector<std::pair<QByteArray, QWebEngineUrlSchemeHandler *>>;

    // `runProfile`: the profile of sign-ins that name no session, already set up. Each kept
    // session's profile gets the same scheme handlers and Accept-Language.
    SessionProfiles(QWebEngineProfile *runProfile, SchemeHandlers handlers, QString acceptLanguage,
                    std::string dataFolder);
    ~SessionProfiles();
    SessionProfiles(const SessionProfiles &) = delete;
    SessionProfiles &operator=(const SessionProfiles &) = delete;

    QWebEngineProfile *runProfile() const { return run; }
    // The profile of `page`'s session, made at the first sign-in that names it and kept for the
    // run (a profile is heavy to make, and the engine holds its files open while it lives); the
    // run's own profile for a sign-in that names none.
    QWebEngineProfile *profileFor(const SignInPage &page);
    // Takes group and other permissions off whatever the engine has written below the helper's
    // data folder so far (sessionstore.h); does nothing while no session was used.
    void keepStoredDataPrivate() const;

private:
    QWebEngineProfile *const run;
    const SchemeHandlers handlers;
    const QString acceptLanguage;
    const std::string dataFolder;
    std::map<std::string, QWebEngineProfile *> kept; // by session name
};
