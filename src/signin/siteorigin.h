// What the person is told about the site whose page they are on.
#pragma once

#include <QString>
#include <QUrl>

struct SiteOrigin {
    enum class Connection {
        Secure,    // https: a padlock
        NotSecure, // plain http: "Not secure"
        Other,     // any other scheme (about:, data:, file:): its name, no mark
    };
    // The host as people read it (Unicode where Qt deems the top-level domain safe to show so,
    // else its ASCII form); for another scheme, the scheme and a colon ("data:").
    QString host;
    // Where in `host` the registrable domain begins ("example.co.uk" in "login.example.co.uk"):
    // the part that tells whose site it is. 0 when the whole host is that part (an address, a
    // single label such as "localhost", a public suffix itself).
    int registrableStart = 0;
    Connection connection = Connection::Other;
};

// The site of `url`. The registrable domain comes from the public suffix list through libpsl:
// the newest list the system has (Debian's publicsuffix), else the one built into the library.
SiteOrigin siteOriginOf(const QUrl &url);
