// Fuzz target for the page host's request head: the bytes a client sent, as
// the server's read buffer holds them. Checks the rules each piece promises,
// not just that nothing crashes:
//  - FindHeadEnd ends at the first CR LF CR LF, or finds none;
//  - a head that ParseRequestHead accepts has a token method, a target that
//    starts with "/" and splits into path "?" query, a known version, and
//    header names of token characters with trimmed values; Header() finds the
//    first field of a name;
//  - a Content-Length it accepts is digits only and reads as its value;
//  - a site-relative path never leaves the site: no "..", ".", empty
//    segment, backslash, colon or NUL, no leading "/";
//  - HTML escaping leaves none of & < > " ' unescaped.
#include "hosts/pagehost/HttpHead.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace pagehost;

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "http head fuzz: %s\n", what);
        std::abort();
    }
}

bool IsToken(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos))
            return false;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void CheckHead(const HttpRequestHead& head) {
    Require(IsToken(head.method), "method is not a token");
    Require(!head.target.empty() && head.target.front() == '/', "target does not start with /");
    const size_t question = head.target.find('?');
    if (question == std::string::npos)
        Require(head.path == head.target && head.query.empty(), "target without ? is not the path");
    else
        Require(head.path + "?" + head.query == head.target && head.path.find('?') == std::string::npos,
                "target is not path?query");
    Require(head.version == "HTTP/1.1" || head.version == "HTTP/1.0", "unknown version accepted");
    for (size_t i = 0; i < head.headers.size(); ++i) {
        const auto& [name, value] = head.headers[i];
        Require(IsToken(name), "header name is not a token");
        Require(value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back())), "header value not trimmed");
        Require(value.find("\r\n") == std::string::npos, "header value holds a line end");
        size_t first = 0;
        while (!EqualsIgnoreCase(head.headers[first].first, name)) ++first;
        Require(head.Header(name) == &head.headers[first].second, "Header() is not the first field of the name");
    }
}

void CheckContentLength(std::string_view value) {
    const auto length = ParseContentLength(value);
    if (!length) return;
    Require(!value.empty() && value.size() <= 19, "Content-Length of odd size accepted");
    uint64_t expected = 0;
    for (char c : value) {
        Require(c >= '0' && c <= '9', "Content-Length with a non-digit accepted");
        expected = expected * 10 + static_cast<uint64_t>(c - '0');
    }
    Require(*length == expected, "Content-Length read wrongly");
}

void CheckSitePath(std::string_view urlPath) {
    const auto relative = SiteRelativePath(urlPath);
    if (!relative) return;
    const std::string& path = *relative;
    Require(path.empty() || path.front() != '/', "site path starts with /");
    Require(path.find_first_of(std::string_view("\\:\0", 3)) == std::string::npos, "site path holds \\, : or NUL");
    size_t pos = 0;
    while (!path.empty() && pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        const std::string_view segment = std::string_view(path).substr(pos, end - pos);
        Require(!segment.empty() && segment != "." && segment != "..", "site path has an empty, . or .. segment");
        pos = end + 1;
    }
    if (path.find('%') == std::string::npos)
        Require(SiteRelativePath("/" + path) == path, "a site path does not map to itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view buffer(reinterpret_cast<const char*>(data), size);
    const size_t end = FindHeadEnd(buffer);
    const size_t first = buffer.find("\r\n\r\n");
    Require(end == (first == std::string_view::npos ? 0 : first + 4), "head end is not the first blank line");

    HttpRequestHead head;
    if (ParseRequestHead(end ? buffer.substr(0, end) : buffer, head)) {
        CheckHead(head);
        if (const std::string* length = head.Header("Content-Length")) CheckContentLength(*length);
        CheckSitePath(head.path);
        (void)ParseQuery(head.query);
        Require(!ContentTypeForPath(head.path).empty(), "no content type");
    }
    CheckContentLength(buffer.substr(0, 24));
    CheckSitePath(buffer);
    const std::string escaped = HtmlEscape(buffer);
    Require(escaped.find_first_of("<>\"'") == std::string::npos, "HTML escape left a special character");
    return 0;
}
