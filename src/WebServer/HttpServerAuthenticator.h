#pragma once

#include "WebServer/HttpServerResponse.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Checks the "Authorization" field of requests against the accounts of one method. Basic compares the
// Base64 credential; Digest (RFC 7616, MD5, qop "auth") hands out a fresh nonce with every challenge,
// keeps a bounded set of them for a limited time, and takes each nonce count once and only upwards, so
// a captured request cannot be replayed. Secrets are compared in constant time. Any thread.
class HttpServerAuthenticator {
public:
    enum class Method { Basic, Digest };
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    static constexpr size_t kMaxNonces = 1024;
    static constexpr Clock::duration kNonceLifetime = std::chrono::minutes(5);

    // accounts: user name to password.
    HttpServerAuthenticator(Method method, std::string realm, const std::map<std::string, std::string>& accounts, Now now = Clock::now);

    const std::string& realm() const { return realm_; }
    Method method() const { return method_; }
    // User name to stored credential (see credentials_).
    const std::map<std::string, std::string>& credentials() const { return credentials_; }
    // nullptr when the request may pass, else the 401 answer with a challenge (500 when no nonce can be
    // made). `target` is the request target as the request line gave it.
    std::shared_ptr<HttpServerResponse> authenticate(const std::string& method, const std::string& target, const std::string& authorization);

private:
    enum class Verdict { Passed, Refused, Stale };

    bool checkBasic(const std::string& authorization) const;
    Verdict checkDigest(const std::string& method, const std::string& target, const std::string& authorization);
    // Under mutex_: the count is taken when the nonce is live and the count is above the last one seen.
    Verdict takeNonceCount(const std::string& nonce, uint64_t count);
    void forgetExpiredNonces(Clock::time_point now);
    std::shared_ptr<HttpServerResponse> challenge(bool stale);

    struct Nonce {
        Clock::time_point issued;
        uint64_t lastCount = 0;
    };

    const Method method_;
    const std::string realm_;
    // User name to stored credential: Base64 of "user:password" (Basic) or hex MD5 of "user:realm:password".
    std::map<std::string, std::string> credentials_;
    const Now now_;
    std::mutex mutex_;
    std::unordered_map<std::string, Nonce> nonces_;  // under mutex_
    std::deque<std::string> issueOrder_;  // under mutex_, oldest first
};
