#include "WebServer/HttpServerAuthenticator.h"

#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerLog.h"

#include <cctype>
#include <optional>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <strings.h>

namespace {

constexpr std::string_view kBasicPrefix = "Basic ";
constexpr std::string_view kDigestPrefix = "Digest ";

// Schemes are compared without regard to case (RFC 9110, 11.1).
bool hasScheme(std::string_view authorization, std::string_view prefix)
{
    return authorization.size() >= prefix.size() && strncasecmp(authorization.data(), prefix.data(), prefix.size()) == 0;
}
constexpr size_t kNonceBytes = 16;
constexpr size_t kNonceCountDigits = 8;

std::string base64(std::string_view text)
{
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), reinterpret_cast<const unsigned char*>(text.data()),
        static_cast<int>(text.size()));
    out.resize(static_cast<size_t>(length));
    return out;
}

// Equal secrets, in a time that tells nothing of where they differ.
bool sameSecret(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The name=value pairs of a Digest field (values plain or quoted), names in lower case; nullopt when
// the list is malformed or names a parameter twice.
std::optional<std::map<std::string, std::string>> digestParameters(std::string_view text)
{
    std::map<std::string, std::string> parameters;
    size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && isBlank(text[i]))
            ++i;
    };
    for (;;) {
        skipBlanks();
        const size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ',' && !isBlank(text[i]))
            ++i;
        std::string name(text.substr(nameStart, i - nameStart));
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        skipBlanks();
        if (name.empty() || i == text.size() || text[i] != '=')
            return std::nullopt;
        ++i;
        skipBlanks();
        std::string value;
        if (i < text.size() && text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                value += text[i];
            }
            if (i == text.size())
                return std::nullopt;
            ++i;
        } else {
            while (i < text.size() && text[i] != ',' && !isBlank(text[i]))
                value += text[i++];
        }
        if (!parameters.emplace(std::move(name), std::move(value)).second)
            return std::nullopt;
        skipBlanks();
        if (i == text.size())
            return parameters;
        if (text[i] != ',')
            return std::nullopt;
        ++i;
    }
}

// The "nc" parameter: exactly eight hexadecimal digits.
std::optional<uint64_t> nonceCount(const std::string& text)
{
    if (text.size() != kNonceCountDigits)
        return std::nullopt;
    uint64_t count = 0;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        count = count * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    return count;
}

std::optional<std::string> randomNonce()
{
    unsigned char random[kNonceBytes];
    if (RAND_bytes(random, sizeof(random)) != 1)
        return std::nullopt;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : random) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xf];
    }
    return text;
}

}  // namespace

HttpServerAuthenticator::HttpServerAuthenticator(Method method, std::string realm, const std::map<std::string, std::string>& accounts, Now now)
    : method_(method), realm_(std::move(realm)), now_(std::move(now))
{
    for (const auto& [user, password] : accounts) {
        credentials_[user] = method_ == Method::Basic ? base64(user + ":" + password)
                                                      : HttpServerFunctions::md5HexDigest(user + ":" + realm_ + ":" + password);
    }
}

std::shared_ptr<HttpServerResponse> HttpServerAuthenticator::authenticate(const std::string& method, const std::string& target,
    const std::string& authorization)
{
    if (method_ == Method::Basic)
        return checkBasic(authorization) ? nullptr : challenge(false);
    const Verdict verdict = checkDigest(method, target, authorization);
    return verdict == Verdict::Passed ? nullptr : challenge(verdict == Verdict::Stale);
}

bool HttpServerAuthenticator::checkBasic(const std::string& authorization) const
{
    if (!hasScheme(authorization, kBasicPrefix))
        return false;
    const std::string_view credential = std::string_view(authorization).substr(kBasicPrefix.size());
    bool found = false;
    for (const auto& entry : credentials_)
        found |= sameSecret(entry.second, credential);
    return found;
}

HttpServerAuthenticator::Verdict HttpServerAuthenticator::checkDigest(const std::string& method, const std::string& target,
    const std::string& authorization)
{
    if (!hasScheme(authorization, kDigestPrefix))
        return Verdict::Refused;
    const auto parameters = digestParameters(std::string_view(authorization).substr(kDigestPrefix.size()));
    if (!parameters)
        return Verdict::Refused;
    const auto value = [&parameters](const std::string& name) {
        const auto found = parameters->find(name);
        return found == parameters->end() ? std::string() : found->second;
    };
    const auto account = credentials_.find(value("username"));
    const std::string algorithm = value("algorithm");
    const std::string qop = value("qop");
    const auto count = nonceCount(value("nc"));
    // The digest covers "uri": one made for another target must not open this one.
    if (account == credentials_.end() || value("realm") != realm_ || value("uri") != target || strcasecmp(qop.c_str(), "auth") != 0
        || !count || value("cnonce").empty() || (!algorithm.empty() && strcasecmp(algorithm.c_str(), "MD5") != 0)) {
        return Verdict::Refused;
    }
    const std::string nonce = value("nonce");
    const std::string expected = HttpServerFunctions::md5HexDigest(account->second + ":" + nonce + ":" + value("nc") + ":" + value("cnonce")
                                                                   + ":" + qop + ":" + HttpServerFunctions::md5HexDigest(method + ":" + target));
    if (!sameSecret(value("response"), expected))
        return Verdict::Refused;
    const std::lock_guard lock(mutex_);
    return takeNonceCount(nonce, *count);
}

HttpServerAuthenticator::Verdict HttpServerAuthenticator::takeNonceCount(const std::string& nonce, uint64_t count)
{
    forgetExpiredNonces(now_());
    const auto issued = nonces_.find(nonce);
    // Right credentials on a nonce we no longer hold: the client may retry at once with a new one.
    if (issued == nonces_.end())
        return Verdict::Stale;
    if (count <= issued->second.lastCount)
        return Verdict::Refused;
    issued->second.lastCount = count;
    return Verdict::Passed;
}

void HttpServerAuthenticator::forgetExpiredNonces(Clock::time_point now)
{
    while (!issueOrder_.empty()) {
        const auto oldest = nonces_.find(issueOrder_.front());
        if (oldest != nonces_.end() && now - oldest->second.issued < kNonceLifetime)
            return;
        if (oldest != nonces_.end())
            nonces_.erase(oldest);
        issueOrder_.pop_front();
    }
}

std::shared_ptr<HttpServerResponse> HttpServerAuthenticator::challenge(bool stale)
{
    auto response = HttpServerResponse::responseWithStatusCode(401);
    if (method_ == Method::Basic) {
        response->setValueForAdditionalHeader("WWW-Authenticate", "Basic realm=\"" + realm_ + "\"");
        return response;
    }
    const auto nonce = randomNonce();
    if (!nonce) {
        HttpServerLog::log(HttpServerLog::Error, "No random source for a digest nonce");
        return HttpServerErrorResponse::responseWithServerError(500, "No random source for a digest nonce");
    }
    {
        const std::lock_guard lock(mutex_);
        const auto now = now_();
        forgetExpiredNonces(now);
        if (nonces_.size() >= kMaxNonces) {
            nonces_.erase(issueOrder_.front());
            issueOrder_.pop_front();
        }
        nonces_.emplace(*nonce, Nonce{now, 0});
        issueOrder_.push_back(*nonce);
    }
    response->setValueForAdditionalHeader("WWW-Authenticate", "Digest realm=\"" + realm_ + "\", nonce=\"" + *nonce
                                                                  + "\", qop=\"auth\", algorithm=MD5" + (stale ? ", stale=true" : ""));
    return response;
}
