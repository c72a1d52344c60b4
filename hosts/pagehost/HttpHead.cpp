#include "hosts/pagehost/HttpHead.h"

#include <algorithm>
#include <array>

namespace pagehost {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsTokenChar(char c) {
    if (c >= 'a' && c <= 'z') return true;
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

const std::string* HttpRequestHead::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (EqualsIgnoreCase(key, name)) return &value;
    return nullptr;
}

size_t FindHeadEnd(std::string_view buffer) {
    const size_t end = buffer.find("\r\n\r\n");
    return end == std::string_view::npos ? 0 : end + 4;
}

bool ParseRequestHead(std::string_view head, HttpRequestHead& out) {
    out = HttpRequestHead{};
    size_t lineEnd = head.find("\r\n");
    if (lineEnd == std::string_view::npos) return false;
    const std::string_view requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || requestLine.find(' ', sp2 + 1) != std::string_view::npos) return false;
    out.method = requestLine.substr(0, sp1);
    out.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    out.version = requestLine.substr(sp2 + 1);
    if (out.method.empty() || !std::all_of(out.method.begin(), out.method.end(), IsTokenChar)) return false;
    if (out.target.empty() || out.target.front() != '/') return false;
    if (out.version != "HTTP/1.1" && out.version != "HTTP/1.0") return false;
    const size_t question = out.target.find('?');
    out.path = out.target.substr(0, question);
    if (question != std::string::npos) out.query = out.target.substr(question + 1);

    size_t pos = lineEnd + 2;
    while (pos < head.size()) {
        lineEnd = head.find("\r\n", pos);
        if (lineEnd == std::string_view::npos) return false;
        const std::string_view line = head.substr(pos, lineEnd - pos);
        pos = lineEnd + 2;
        if (line.empty()) break;  // the blank line that ends the head
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) return false;
        const std::string_view name = line.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return false;
        out.headers.emplace_back(std::string(name), std::string(Trim(line.substr(colon + 1))));
    }
    return true;
}

std::optional<uint64_t> ParseContentLength(std::string_view value) {
    if (value.empty() || value.size() > 19) return std::nullopt;
    uint64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    return n;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plusAsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int hi = HexValue(text[i + 1]);
            const int lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (c == '+' && plusAsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> SiteRelativePath(std::string_view urlPath) {
    const auto decoded = PercentDecode(urlPath);
    if (!decoded || decoded->empty() || decoded->front() != '/') return std::nullopt;
    std::string out;
    size_t pos = 1;
    while (pos <= decoded->size()) {
        size_t end = decoded->find('/', pos);
        if (end == std::string::npos) end = decoded->size();
        const std::string_view segment = std::string_view(*decoded).substr(pos, end - pos);
        pos = end + 1;
        if (segment.empty() || segment == ".") continue;
        if (segment == ".." || segment.find_first_of(std::string_view("\\:\0", 3)) != std::string_view::npos)
            return std::nullopt;
        if (!out.empty()) out += '/';
        out += segment;
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = 0;
    while (pos <= query.size() && !query.empty()) {
        size_t end = query.find('&', pos);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view pair = query.substr(pos, end - pos);
        pos = end + 1;
        if (pair.empty()) continue;
        const size_t eq = pair.find('=');
        const std::string_view name = pair.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
        // A malformed escape is kept as it was sent.
        out.emplace_back(PercentDecode(name, true).value_or(std::string(name)),
                         PercentDecode(value, true).value_or(std::string(value)));
    }
    return out;
}

std::string_view ContentTypeForPath(std::string_view path) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 16> kTypes{{
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".txt", "text/plain; charset=utf-8"},
        {".xml", "application/xml"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".webp", "image/webp"},
        {".pdf", "application/pdf"},
        {".wasm", "application/wasm"},
    }};
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        const std::string_view extension = path.substr(dot);
        for (const auto& [ext, type] : kTypes)
            if (EqualsIgnoreCase(ext, extension)) return type;
    }
    return "application/octet-stream";
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace pagehost
