#pragma once

#include <optional>
#include <string>

class NetSocketTLSSession;
class NetSocketTLSSettings;

// Applies the settings of a TLS start to a new session, key by key in a fixed order. The first
// value of the wrong kind, or the first that OpenSSL refuses, stops it with that key's text.
namespace NetSocketTLSConfigurator {
std::optional<std::string> apply(const NetSocketTLSSettings& settings, NetSocketTLSSession& session);
}
