// The site the origin strip names: the host as shown, where its registrable domain begins, and
// whether the connection is secure.
#include "signin/siteorigin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SiteCase {
    const char *name;
    const char *url;
    const char *host;
    const char *registrable; // the emphasised end of host
    SiteOrigin::Connection connection;
};

class SiteOriginOf : public testing::TestWithParam<SiteCase>
{
};

TEST_P(SiteOriginOf, HostRegistrableDomainAndConnection)
{
    const SiteCase &c = GetParam();
    const SiteOrigin site = siteOriginOf(QUrl(QString::fromUtf8(c.url)));
    EXPECT_EQ(site.host.toStdString(), c.host);
    EXPECT_EQ(site.host.mid(site.registrableStart).toStdString(), c.registrable);
    EXPECT_EQ(site.connection, c.connection);
}

constexpr auto kSecure = SiteOrigin::Connection::Secure;
constexpr auto kNotSecure = SiteOrigin::Connection::NotSecure;
constexpr auto kOther = SiteOrigin::Connection::Other;

const SiteCase kSiteCases[] = {
    {"Subdomain", "https://login.example.com/authorize?x=1", "login.example.com", "example.com",
     kSecure},
    {"TwoLabelSuffix", "https://idp.login.example.co.uk/", "idp.login.example.co.uk",
     "example.co.uk", kSecure},
    {"LookAlikeSubdomain", "https://example.com.evil.example.net/", "example.com.evil.example.net",
     "example.net", kSecure},
    {"PrivateSuffixRule", "https://alice.github.io/", "alice.github.io", "alice.github.io",
     kSecure},
    {"BareRegistrableDomain", "http://example.org:8080/", "example.org", "example.org", kNotSecure},
    {"CaseFolded", "HTTPS://Login.EXAMPLE.com", "login.example.com", "example.com", kSecure},
    {"InternationalisedLabels", "https://login.xn--bcher-kva.de/", "login.bücher.de", "bücher.de",
     kSecure},
    {"PublicSuffixItself", "https://co.uk/", "co.uk", "co.uk", kSecure},
    {"SingleLabel", "http://localhost:5000/", "localhost", "localhost", kNotSecure},
    {"IPv4", "http://127.0.0.1:5000/p", "127.0.0.1", "127.0.0.1", kNotSecure},
    {"IPv6", "https://[::1]:8443/", "[::1]", "[::1]", kSecure},
    {"OtherScheme", "data:text/html,<p>hi</p>", "data:", "data:", kOther},
    {"Blank", "about:blank", "about:", "about:", kOther},
    {"NoUrlYet", "", ":", ":", kOther},
};

INSTANTIATE_TEST_SUITE_P(Table, SiteOriginOf, testing::ValuesIn(kSiteCases),
                         [](const testing::TestParamInfo<SiteCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
