#include "Utils/OpenSSLError.h"

#include <openssl/err.h>

#include <array>

std::string OpenSSLError::drain()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        std::array<char, 256> buffer{};
        ERR_error_string_n(code, buffer.data(), buffer.size());
        if (!text.empty())
            text += "; ";
        text += buffer.data();
    }
    return text.empty() ? "unknown error" : text;
}
