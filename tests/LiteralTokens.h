#pragma once
// Straightforward restatement of token splitting, written independently of
// TokenSplitter: character by character, always numbering tokens from the
// start index. Tests compare the optimised code against it.
#include <cstring>
#include <string>

namespace literal {

inline bool In(const char* set, char c) { return c != 0 && std::strchr(set, c) != nullptr; }

// text is NUL-terminated: the std::string is read with c_str().
inline std::string Token(const std::string& target, const char* delims, const char* blanks, unsigned n,
                         unsigned start, unsigned* stop = nullptr) {
    const char* t = target.c_str();
    unsigned pos = start;
    while (In(blanks, t[pos])) ++pos;
    unsigned passed = 0;
    while (passed < n && t[pos] != 0) {
        if (In(delims, t[pos])) ++passed;
        ++pos;
    }
    while (In(blanks, t[pos])) ++pos;
    std::string out;
    while (t[pos] != 0 && !In(delims, t[pos])) out.push_back(t[pos++]);
    if (stop) *stop = pos;
    return out;
}

inline unsigned TokenCount(const std::string& target, const char* delims, const char* blanks, unsigned start) {
    const char* t = target.c_str();
    unsigned count = 0;
    bool flag = true;
    for (unsigned pos = start; t[pos] != 0; ++pos) {
        if (flag && !In(blanks, t[pos])) {
            ++count;
            flag = false;
        }
        if (In(delims, t[pos])) flag = true;
    }
    return count;
}

inline std::string Trim(const std::string& s, const char* blanks) {
    std::string text(s.c_str());
    size_t b = 0, e = text.size();
    while (b < e && In(blanks, text[b])) ++b;
    while (e > b && In(blanks, text[e - 1])) --e;
    return text.substr(b, e - b);
}

}  // namespace literal
