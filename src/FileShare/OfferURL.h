#pragma once

#include <string>
#include <string_view>

// The URLs of the files the TV offers: the offer's base URL with the TV's own address as host, then
// "/" and each file's id.
class OfferURL {
public:
    // The base with the host of its authority (after "://", before the port) replaced by the TV's
    // address. A base without "://", without a port, or an empty address: the base unchanged.
    static std::string replaceConnectURL(std::string_view base, std::string_view tvAddress);
    static std::string fileURL(std::string_view base, std::string_view fileId);
};
