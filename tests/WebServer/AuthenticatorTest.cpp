#include "ServerTestSupport.h"

#include "WebServer/HttpServerAuthenticator.h"

using namespace ServerTestSupport;

namespace {

using Clock = HttpServerAuthenticator::Clock;

class AuthenticatorTest : public ::testing::Test {
protected:
    // A fresh challenge's nonce, and whether that challenge said "stale".
    std::string challenge(const std::string& authorization = {}, bool* stale = nullptr)
    {
        const auto response = digest.authenticate("GET", "/secret", authorization);
        EXPECT_TRUE(response && response->statusCode() == 401);
        const std::string field = response ? response->additionalHeaders().at("WWW-Authenticate") : std::string();
        EXPECT_NE(field.find("qop=\"auth\""), std::string::npos) << field;
        if (stale)
            *stale = field.find("stale=true") != std::string::npos;
        return quotedParameter(field, "nonce");
    }

    static std::string answer(const std::string& nonce, const std::string& nc, const std::string& uri = "/secret",
        const std::string& password = "pass")
    {
        return digestAnswer(nonce, nc, uri, password);
    }

    bool passes(const std::string& authorization) { return digest.authenticate("GET", "/secret", authorization) == nullptr; }

    Clock::time_point now{};
    HttpServerAuthenticator digest{HttpServerAuthenticator::Method::Digest, "R", {{"user", "pass"}}, [this] { return now; }};
};

TEST_F(AuthenticatorTest, ANonceCountIsTakenOnceAndOnlyUpwards)
{
    const std::string nonce = challenge();
    EXPECT_NE(challenge(), nonce) << "every challenge has its own nonce";
    EXPECT_TRUE(passes(answer(nonce, "00000001")));
    EXPECT_FALSE(passes(answer(nonce, "00000001"))) << "a replayed request";
    EXPECT_TRUE(passes(answer(nonce, "0000000a")));
    EXPECT_FALSE(passes(answer(nonce, "00000002"))) << "a decreasing count";
    EXPECT_FALSE(passes(answer(nonce, "1"))) << "a count of other than eight digits";
}

TEST_F(AuthenticatorTest, ADigestForAnotherTargetOrWithTheWrongPasswordIsRefused)
{
    const std::string nonce = challenge();
    EXPECT_FALSE(passes(answer(nonce, "00000001", "/public")));
    bool stale = true;
    challenge(answer(nonce, "00000001", "/secret", "wrong"), &stale);
    EXPECT_FALSE(stale);
    EXPECT_FALSE(passes(answer(nonce, "00000001") + ", nc=00000002")) << "a parameter given twice";
    EXPECT_TRUE(passes(answer(nonce, "00000001")));
}

TEST_F(AuthenticatorTest, UnknownExpiredAndEvictedNoncesAreStale)
{
    bool stale = false;
    challenge(answer("0123456789abcdef0123456789abcdef", "00000001"), &stale);
    EXPECT_TRUE(stale);

    const std::string expiring = challenge();
    now += HttpServerAuthenticator::kNonceLifetime;
    stale = false;
    challenge(answer(expiring, "00000001"), &stale);
    EXPECT_TRUE(stale);

    const std::string evicted = challenge();
    for (size_t i = 0; i < HttpServerAuthenticator::kMaxNonces; ++i)
        challenge();
    EXPECT_FALSE(passes(answer(evicted, "00000001")));
}

TEST(BasicAuthenticatorTest, OnlyTheStoredCredentialPasses)
{
    HttpServerAuthenticator basic(HttpServerAuthenticator::Method::Basic, "R", {{"user", "pass"}});
    EXPECT_EQ(basic.authenticate("GET", "/", "Basic dXNlcjpwYXNz"), nullptr);
    for (const char* wrong : {"", "Basic dXNlcjpwYXN", "Basic dXNlcjpwYXNzAA==", "Digest dXNlcjpwYXNz"}) {
        const auto response = basic.authenticate("GET", "/", wrong);
        ASSERT_NE(response, nullptr) << wrong;
        EXPECT_EQ(response->additionalHeaders().at("WWW-Authenticate"), "Basic realm=\"R\"");
    }
}

class AuthenticationInteropTest : public ServerFixture {
protected:
    void start(const std::string& method)
    {
        server->addDefaultHandlerForMethod("GET", HttpServer::requestFactory(),
            HttpServer::synchronous([](std::shared_ptr<HttpServerRequest>) { return HttpServerDataResponse::responseWithText("secret"); }));
        HttpServer::Options options;
        options.authenticationMethod = method;
        options.authenticationRealm = "R";
        options.authenticationAccounts = {{"user", "pass"}};
        ServerFixture::start(options);
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port()) + path; }
};

TEST_F(AuthenticationInteropTest, CurlDigest)
{
    start("DigestAccess");
    EXPECT_EQ(curl({"--digest", "-u", "user:pass", url("/a/b?x=1")}), "secret");
    EXPECT_EQ(curl({"--digest", "-u", "user:pass", "-I", "-o", "/dev/null", "-w", "%{http_code}", url("/")}), "200");
    EXPECT_EQ(curl({"--digest", "-u", "user:wrong", "-o", "/dev/null", "-w", "%{http_code}", url("/")}), "401");
}

TEST_F(AuthenticationInteropTest, CurlBasic)
{
    start("Basic");
    EXPECT_EQ(curl({"--basic", "-u", "user:pass", url("/")}), "secret");
    EXPECT_EQ(curl({"--basic", "-u", "user:wrong", "-o", "/dev/null", "-w", "%{http_code}", url("/")}), "401");
}

}  // namespace
