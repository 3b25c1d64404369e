#include "webview/sessionprofiles.h"

#include "channel/guicalls.h"
#include "signin/sessionstore.h"

#include <QWebEngineProfile>

SessionProfiles::SessionProfiles(QWebEngineProfile *runProfile, SchemeHandlers handlers,
                                 QString acceptLanguage, std::string dataFolder)
    : run(runProfile)
    , handlers(std::move(handlers))
    , acceptLanguage(std::move(acceptLanguage))
    , dataFolder(std::move(dataFolder))
{ }

SessionProfiles::~SessionProfiles()
{
    // The engine writes the last of a profile's cookies as the profile goes.
    for (const auto &[name, profile] : kept)
        delete profile;
    keepStoredDataPrivate();
}

QWebEngineProfile *SessionProfiles::profileFor(const SignInPage &page)
{
    if (page.session.empty())
        return run;
    const auto found = kept.find(page.session);
    if (found != kept.end())
        return found->second;
    // A storage name makes a profile that keeps its data on disk; both folders are set before
    // the first page uses it, so nothing goes to the engine's default places.
    auto *profile = new QWebEngineProfile(QString::fromStdString(page.session));
    const QString folder = QString::fromStdString(page.sessionFolder);
    profile->setPersistentStoragePath(folder);
    profile->setCachePath(folder + QStringLiteral("/cache"));
    // Cookies the provider made persistent ("keep me signed in") are kept; session cookies end
    // with the run, as in a browser. ForcePersistentCookies would keep those too.
    profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    profile->setHttpAcceptLanguage(acceptLanguage);
    for (const auto &[scheme, handler] : handlers)
        profile->installUrlSchemeHandler(scheme, handler);
    kept.emplace(page.session, profile);
    keepStoredDataPrivate();
    return profile;
}

void SessionProfiles::keepStoredDataPrivate() const
{
    if (!kept.empty())
        makePrivate(dataFolder);
}
