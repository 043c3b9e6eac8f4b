#pragma once

// Percent-decoding of the parts of a URL (RFC 3986), as bytes; encoding is PercentEncodePath
// (app/page/results_page.h).

#include <optional>
#include <string>
#include <string_view>

namespace kb::server {

// `encoded` with each "%XX" turned into its byte, and with `plus_is_blank` each "+" into a
// blank (as in a form's query); nothing when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> PercentDecode(std::string_view encoded, bool plus_is_blank);

}  // namespace kb::server
