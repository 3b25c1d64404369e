#include "signin/siteorigin.h"

#include <QStringList>

#include <libpsl.h>

namespace {

// Loaded once, on first use, and kept for the life of the process: the list is read-only.
const psl_ctx_t *publicSuffixes()
{
    static const psl_ctx_t *const context = [] {
        const psl_ctx_t *latest = psl_latest(nullptr);
        return latest != nullptr ? latest : psl_builtin();
    }();
    return context;
}

// How many labels at the end of `asciiHost` form its registrable domain; 0 when it has none.
int registrableLabels(const QByteArray &asciiHost)
{
    const psl_ctx_t *context = publicSuffixes();
    if (context == nullptr)
        return 0;
    const char *registrable = psl_registrable_domain(context, asciiHost.constData());
    if (registrable == nullptr)
        return 0;
    return static_cast<int>(QByteArray(registrable).count('.')) + 1;
}

bool isDottedAddress(const QString &host)
{
    for (const QChar c : host) {
        if (!c.isDigit() && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

} // namespace

SiteOrigin siteOriginOf(const QUrl &url)
{
    SiteOrigin site;
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("https"))
        site.connection = SiteOrigin::Connection::Secure;
    else if (scheme == QLatin1String("http"))
        site.connection = SiteOrigin::Connection::NotSecure;

    if (site.connection == SiteOrigin::Connection::Other || url.host().isEmpty()) {
        site.connection = SiteOrigin::Connection::Other;
        site.host = scheme + QLatin1Char(':');
        return site;
    }

    site.host = url.host();
    // An address names no domain; an IPv6 one is shown in brackets as in the address bar.
    // (QUrl has already brought an IPv4 address to its dotted form.)
    if (site.host.contains(QLatin1Char(':'))) {
        site.host = QLatin1Char('[') + site.host + QLatin1Char(']');
        return site;
    }
    if (isDottedAddress(site.host))
        return site;
    // The list holds ASCII and Unicode rules alike; the ASCII form has as many labels as the
    // one shown, so the count carries over.
    const int labels = registrableLabels(url.host(QUrl::FullyEncoded).toLatin1());
    const QStringList shown = site.host.split(QLatin1Char('.'));
    if (labels > 0 && labels < shown.size()) {
        const QStringList leading = shown.mid(0, shown.size() - labels);
        site.registrableStart = static_cast<int>(leading.join(QLatin1Char('.')).size()) + 1;
    }
    return site;
}
