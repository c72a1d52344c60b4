#include "hosts/dump/Json.h"

#include <cstdio>

namespace {

void AppendEscape(std::string& out, unsigned unit) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", unit);
    out += escape;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsHigh(wchar_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(wchar_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void AppendJsonString(std::string& out, std::wstring_view text) {
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t u = text[i];
        switch (u) {
        case L'"': out += "\\\""; continue;
        case L'\\': out += "\\\\"; continue;
        case L'\b': out += "\\b"; continue;
        case L'\f': out += "\\f"; continue;
        case L'\n': out += "\\n"; continue;
        case L'\r': out += "\\r"; continue;
        case L'\t': out += "\\t"; continue;
        default: break;
        }
        if (u < 0x20) {
            AppendEscape(out, u);
        } else if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) {
            AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (IsHigh(u) || IsLow(u)) {
            AppendEscape(out, u);
        } else {
            AppendUtf8(out, u);
        }
    }
    out += '"';
}

std::string ResultCodeText(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<ULONG>(code)));
    return text;
}
