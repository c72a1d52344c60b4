#pragma once
// The URL-encoded parse restated literally, written independently of the
// parser: tests and the fuzz target compare the parser's fields with it.
#include <string>

#include "tests/LiteralTokens.h"
#include "tests/ParserHarness.h"

// Decoding restated from the rules: "+" is a space, %XX with two hex digits
// and a nonzero value is that byte, everything else is copied.
inline std::string LiteralDecode(const std::string& s) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    const std::string text(s.c_str());
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0 &&
                   hex(text[i + 1]) * 16 + hex(text[i + 2]) != 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// The whole URL-encoded parse restated literally: pair i is found by counting
// i delimiters from the start of the body, and names are found by scanning
// the fields in order.
inline FieldsView LiteralParse(const std::string& body) {
    FieldsView fields;
    const std::string text(body.c_str());
    const unsigned count = literal::TokenCount(text, "&", " \t,", 0);
    for (unsigned i = 0; i < count; ++i) {
        const std::string pair = literal::Token(text, "&", " \t,", i, 0);
        std::string name = literal::Token(pair, "=", " \r\n\t", 0, 0);
        std::string value = literal::Token(pair, "=", " \r\n\t", 1, 0);
        name = literal::Trim(LiteralDecode(name), " \r\n\t");
        value = literal::Trim(LiteralDecode(value), " \r\n\t");
        size_t at = 0;
        while (at < fields.size() && fields[at].first != name) ++at;
        if (at == fields.size())
            fields.push_back({name, {value}});
        else
            fields[at].second.push_back(value);
    }
    return fields;
}
