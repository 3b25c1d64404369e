// Which failed loads end a sign-in and with which word, the engine's error names, and the reply
// a failed load makes, data included, through the command loop.
#include "channel/commandloop.h"
#include "signin/helperstate.h"
#include "signin/loadfailure.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using testsupport::FakeGui;
using testsupport::runSession;

namespace {

struct KindCase {
    const char *name;
    int netError;
    std::optional<LoadFailureKind> kind;
};

const KindCase kKindCases[] = {
    {"CertAuthorityInvalid", -202, LoadFailureKind::Certificate},
    {"CertDateInvalid", -201, LoadFailureKind::Certificate},
    {"CertCommonNameInvalid", -200, LoadFailureKind::Certificate},
    {"CertKnownInterceptionBlocked", -217, LoadFailureKind::Certificate},
    {"CertCodeNotYetNamed", -250, LoadFailureKind::Certificate},
    {"PinnedKeyNotInChain", -150, LoadFailureKind::Certificate},
    {"TunnelConnectionFailed", -111, LoadFailureKind::Proxy},
    {"ProxyConnectionFailed", -130, LoadFailureKind::Proxy},
    {"ProxyAuthRequestedAndCancelled", -127, LoadFailureKind::Proxy},
    {"PacScriptFailed", -327, LoadFailureKind::Proxy},
    {"ConnectionRefused", -102, LoadFailureKind::Network},
    {"NameNotResolved", -105, LoadFailureKind::Network},
    {"ConnectionTimedOut", -118, LoadFailureKind::Network},
    {"TimedOut", -7, LoadFailureKind::Network},
    {"InternetDisconnected", -106, LoadFailureKind::Network},
    {"ConnectionReset", -101, LoadFailureKind::Network},
    {"SslProtocolError", -107, LoadFailureKind::Network},
    {"SslVersionOrCipherMismatch", -113, LoadFailureKind::Network},
    {"BadClientCertificate", -117, LoadFailureKind::Network},
    {"EmptyResponse", -324, LoadFailureKind::Network},
    {"DnsTimedOut", -803, LoadFailureKind::Network},
    // Not failures of the sign-in: the helper's own refusal of the redirect or a navigation
    // that replaced the load, policies, the site's HTTP answers, success.
    {"Aborted", -3, std::nullopt},
    {"GenericFailure", -2, std::nullopt},
    {"BlockedByClient", -20, std::nullopt},
    {"BlockedByResponse", -27, std::nullopt},
    {"TooManyRedirects", -310, std::nullopt},
    {"InvalidResponse", -320, std::nullopt},
    {"CacheMiss", -400, std::nullopt},
    {"NoError", 0, std::nullopt},
    {"HttpStatus404", 404, std::nullopt},
};

class LoadFailureKindTable : public testing::TestWithParam<KindCase>
{
};

TEST_P(LoadFailureKindTable, IsTheKindOfItsCode)
{
    EXPECT_EQ(loadFailureKind(GetParam().netError), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(Table, LoadFailureKindTable, testing::ValuesIn(kKindCases),
                         [](const testing::TestParamInfo<KindCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(NetErrorName, IsTheEngineNameWithoutItsNamespaceOrElseTheCode)
{
    EXPECT_EQ(netErrorName("net::ERR_CERT_AUTHORITY_INVALID", -202), "ERR_CERT_AUTHORITY_INVALID");
    EXPECT_EQ(netErrorName("ERR_CONNECTION_REFUSED", -102), "ERR_CONNECTION_REFUSED");
    // Text that is no error name (a sentence, markup, nothing) never reaches the client.
    EXPECT_EQ(netErrorName("The webpage at <strong>x</strong> might be down", -105), "-105");
    EXPECT_EQ(netErrorName("net::", -105), "-105");
    EXPECT_EQ(netErrorName("net::ERR_", -105), "-105");
    EXPECT_EQ(netErrorName("", -130), "-130");
}

TEST(LoadFailureMessage, IsOneStableWordPerKind)
{
    EXPECT_STREQ(loadFailureMessage(LoadFailureKind::Certificate), "certificate_error");
    EXPECT_STREQ(loadFailureMessage(LoadFailureKind::Proxy), "proxy_error");
    EXPECT_STREQ(loadFailureMessage(LoadFailureKind::Network), "network_error");
}

TEST(LoadFailureSession, AFailedLoadIsAnsweredAtOnceWithItsWordHostAndErrorName)
{
    HelperState state;
    FakeGui gui;
    bool ended = false;
    gui.onOpen = [&ended](HelperState &state, const SignInPage &) {
        ended = endSignInWithLoadFailure(
            state, {LoadFailureKind::Certificate, "idp.example", "ERR_CERT_DATE_INVALID"});
    };
    // No time limit given: an answer that waited for it would take 180 s.
    EXPECT_EQ(
        runSession(
            R"({"id":4,"method":"navigate","params":{"url":"https://idp.example/","redirect_uri":"app://done"}}
)",
            state, gui),
        R"({"error":{"code":1,"data":{"error":"ERR_CERT_DATE_INVALID","host":"idp.example"},"message":"certificate_error"},"id":4,"jsonrpc":"2.0"}
)");
    EXPECT_TRUE(ended);
    EXPECT_EQ(gui.events(), (std::vector<std::string>{"open", "hide", "quit"}));
}

TEST(LoadFailureSession, AFailureWithNoSignInInFlightEndsNothing)
{
    // A page that fails after its sign-in has ended (its time limit, the person's close): the
    // reply already written stays the only one, and no failure view comes up.
    HelperState state;
    EXPECT_FALSE(endSignInWithLoadFailure(state, {LoadFailureKind::Network, "h", "ERR_X"}));
}

} // namespace
