#include "webview/sessionprofiles.h"

#include "channel/guicalls.h"
#include "signin/sessionstore.h"

#include <QDir>
#include <QStandardPaths>
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
    // A storage name makes a profile that keeps its data on disk, in the session's folder once
    // both paths are set, before the first page uses it.
    const QString name = QString::fromStdString(page.session);
    auto *profile = new QWebEngineProfile(name);
    const QString folder = QString::fromStdString(page.sessionFolder);
    profile->setPersistentStoragePath(folder);
    profile->setCachePath(folder + QStringLiteral("/cache"));
    // The engine writes its preferences at the default place of the name (the application's
    // data folder, QtWebEngine/<name>) as the profile is made, before the path can be set; that
    // copy is never read again, and would outlive a forget.
    const QString defaultPlace = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/QtWebEngine");
    QDir(defaultPlace + QLatin1Char('/') + name).removeRecursively();
    QDir().rmdir(defaultPlace);
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
