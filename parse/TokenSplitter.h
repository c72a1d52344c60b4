#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qor {

class ByteString;

// Cuts a ByteString into tokens at delimiter characters, skipping blank
// characters before each token, and trims or upper-cases it in place. The
// target is seen as NUL-terminated text: nothing after its first NUL takes
// part. NUL belongs to no set; the two sets are meant to be disjoint.
class TokenSplitter {
public:
    static constexpr const char* kDefaultBlanks = " \t,";

    // No target; delimiters and blanks are both the default set.
    TokenSplitter();
    // The sets are NUL-terminated texts that must outlive the splitter.
    TokenSplitter(ByteString& target, const char* delimiters, const char* blanks = kDefaultBlanks);

    void SetTarget(ByteString& target) { target_ = &target; }

    // Copies token n (counted from 0), scanning from start, into out. Returns
    // the index at which copying stopped: the delimiter or the NUL that ended
    // the token. Token n is the text after the n-th delimiter; fewer
    // delimiters give an empty token. With disjoint sets, Token(out, 0,
    // stop + 1) after a stop on a delimiter yields the next token, so tokens
    // can be taken in one forward pass.
    uint32_t Token(ByteString& out, uint32_t n, uint32_t start) const;
    // Tokens from start on: a non-blank character after the start or after a
    // delimiter opens one, so delimiters alone open empty tokens.
    uint32_t TokenCount(uint32_t start) const;

    void TrimLeft();
    void TrimRight();
    // ASCII a-z only; every other byte stays.
    void ToUpper();

private:
    // Where Token copies from: token n occupies [begin, result) of the
    // target's text.
    uint32_t Locate(uint32_t n, uint32_t start, uint32_t& begin) const;
    static constexpr uint8_t kDelimiter = 1;
    static constexpr uint8_t kBlank = 2;
    bool IsBlank(unsigned char c) const { return (classes_[c] & kBlank) != 0; }
    bool IsDelimiter(unsigned char c) const { return (classes_[c] & kDelimiter) != 0; }
    void Mark(const char* set, uint8_t flag);
    bool Disjoint() const;
    uint32_t CountStepwise(const char* text) const;
    // Most texts have no blank where one could be: test before scanning.
    size_t SkipBlanks(const char* text, size_t pos) const {
        return IsBlank(static_cast<unsigned char>(text[pos])) ? pos + std::strspn(text + pos, blanks_) : pos;
    }

    ByteString* target_ = nullptr;
    const char* delimiters_ = kDefaultBlanks;
    const char* blanks_ = kDefaultBlanks;
    uint8_t classes_[256] = {};
};

}  // namespace qor
