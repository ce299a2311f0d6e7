#pragma once

#include <optional>
#include <string>
#include <string_view>

// The "Destination" header of COPY and MOVE read as a URI: either "http://AUTHORITY/PATH" whose
// authority is the request's "Host" (letter case aside), or a path alone. Query and fragment are not
// part of the name.
class WebDavDestination {
public:
    // The percent-decoded path; nullopt when the header is malformed, names another server or does not decode.
    static std::optional<std::string> path(std::string_view header, std::string_view host);
};
