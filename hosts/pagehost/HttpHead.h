#pragma once
// The head of an HTTP/1.1 request (request line and header fields) and the
// small pieces of URL handling the page host needs. Plain C++ with no platform
// calls, so that it is tested natively as well. What cannot be parsed or
// lies outside the site comes back as false or no value; nothing else fails.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pagehost {

// Longest request head accepted; a longer one is answered 431.
inline constexpr size_t kMaxHeadBytes = 64 * 1024;

struct HttpRequestHead {
    std::string method;
    std::string target;   // as sent: path and query
    std::string path;     // the target before '?', still percent-encoded
    std::string query;    // after '?', without it
    std::string version;  // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order

    // The first field of that name (names compare without regard to case).
    const std::string* Header(std::string_view name) const;
};

// Length of the head including its closing blank line, or 0 while the
// buffer does not yet hold a whole head.
size_t FindHeadEnd(std::string_view buffer);

// Parses a whole head (as FindHeadEnd delimits it); false when malformed.
bool ParseRequestHead(std::string_view head, HttpRequestHead& out);

// A Content-Length value: digits only, no sign, no overflow.
std::optional<uint64_t> ParseContentLength(std::string_view value);

// %XX decoding; with plusAsSpace (query strings) '+' is a blank. Nothing for
// a malformed escape.
std::optional<std::string> PercentDecode(std::string_view text, bool plusAsSpace = false);

// The site-relative file path (segments joined by '/', no leading slash) of a
// URL path, or nothing when it would leave the site: "..", empty or hidden
// tricks such as backslashes, drive colons or NUL bytes.
std::optional<std::string> SiteRelativePath(std::string_view urlPath);

// The name/value pairs of a query string, decoded, in order.
std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query);

// The Content-Type header for a static file, from its extension.
std::string_view ContentTypeForPath(std::string_view path);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Text for an HTML page: & < > " ' become character references.
std::string HtmlEscape(std::string_view text);

}  // namespace pagehost
