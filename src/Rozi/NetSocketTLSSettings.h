#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

// The settings of a TLS start: a small typed map, so a value of the wrong kind is seen and refused
// rather than read as a default. Certificates are PEM texts: the first holds the certificate and its
// private key, the rest the chain above it. Protocol versions are wire numbers (0x0303 is TLS 1.2,
// 0x0304 TLS 1.3; 0 leaves the bound alone); cipher suites are their IANA numbers.
class NetSocketTLSSettings {
public:
    using Value = std::variant<bool, long long, std::string, std::vector<uint8_t>, std::vector<long long>,
        std::vector<std::string>>;

    static constexpr const char* kIsServer = "kCFStreamSSLIsServer";
    static constexpr const char* kManuallyEvaluateTrust = "NetSocketManuallyEvaluateTrust";
    static constexpr const char* kPeerName = "kCFStreamSSLPeerName";
    static constexpr const char* kCertificates = "kCFStreamSSLCertificates";
    static constexpr const char* kPeerID = "NetSocketSSLPeerID";
    static constexpr const char* kProtocolVersionMin = "NetSocketSSLProtocolVersionMin";
    static constexpr const char* kProtocolVersionMax = "NetSocketSSLProtocolVersionMax";
    // Accepted and type-checked, with no effect: OpenSSL has no counterpart of either option.
    static constexpr const char* kFalseStart = "NetSocketSSLSessionOptionFalseStart";
    static constexpr const char* kSendOneByteRecord = "NetSocketSSLSessionOptionSendOneByteRecord";
    static constexpr const char* kCipherSuites = "NetSocketSSLCipherSuites";
    static constexpr const char* kDiffieHellmanParameters = "NetSocketSSLDiffieHellmanParameters";
    static constexpr const char* kALPN = "NetSocketSSLALPN";
    // Whole seconds the handshake may take from its start before the socket closes with an error; a
    // peer that stalls it would otherwise hold the socket for good.
    static constexpr const char* kHandshakeTimeout = "NetSocketSSLHandshakeTimeout";
    static constexpr long long kDefaultHandshakeTimeout = 10;
    // Any of these refuses the start: their checks cannot be relaxed here.
    static constexpr const char* kForbidden[] = {"kCFStreamSSLAllowsAnyRoot", "kCFStreamSSLAllowsExpiredRoots",
        "kCFStreamSSLValidatesCertificateChain", "kCFStreamSSLAllowsExpiredCertificates", "kCFStreamSSLLevel"};

    NetSocketTLSSettings() = default;
    NetSocketTLSSettings(std::initializer_list<std::pair<const std::string, Value>> values) : values_(values) { }

    void set(const std::string& key, Value value) { values_[key] = std::move(value); }
    bool has(const std::string& key) const { return values_.count(key) != 0; }
    // The value of the key when it is present and of kind T; `*present` tells the two apart.
    template <class T> const T* get(const std::string& key, bool* present) const
    {
        const auto found = values_.find(key);
        *present = found != values_.end();
        return *present ? std::get_if<T>(&found->second) : nullptr;
    }
    bool isServer() const
    {
        bool present = false;
        const bool* server = get<bool>(kIsServer, &present);
        return server != nullptr && *server;
    }

private:
    std::map<std::string, Value> values_;
};
