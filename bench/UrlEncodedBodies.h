#pragma once
// URL-encoded request bodies shared by the native and the Windows benchmarks.
#include <string>

// ~4 MiB: 50,000 pairs over 16 names, values full of %XX escapes and "+".
inline std::string EscapedBody() {
    std::string body;
    for (int i = 0; i < 50000; ++i) {
        if (i) body += '&';
        body += "field" + std::to_string(i % 16) + "=Hello+World%21+%C3%A4%C3%B6%C3%BC+caf%E9+100%25+sure%3F+" +
                std::to_string(i) + "+%2Fpath%2Fto.txt";
    }
    return body;
}

// ~4 MiB as well, but every one of the 50,000 names is new: each pair makes
// a field.
inline std::string DistinctNamesBody() {
    std::string body;
    for (int i = 0; i < 50000; ++i) {
        if (i) body += '&';
        body += "customer_note_" + std::to_string(i) + "=Hello+World%21+%C3%A4%C3%B6%C3%BC+caf%E9+sure%3F+" +
                std::to_string(i) + "+%2Fpath%2Fto.txt";
    }
    return body;
}

// The worst case per byte: 50,000 distinct names with tiny values (~1 MiB).
inline std::string ShortDistinctNamesBody() {
    std::string body;
    for (int i = 0; i < 50000; ++i) {
        if (i) body += '&';
        body += "name" + std::to_string(i) + "=value+" + std::to_string(i);
    }
    return body;
}

// 8 MiB of "a=&": about 2.8 million empty values of one field, the most
// values per body byte.
inline std::string TinyPairsBody() {
    std::string body;
    body.reserve((8u << 20) + 3);
    while (body.size() < (8u << 20)) body += "a=&";
    return body;
}
