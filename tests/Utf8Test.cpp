#include <gtest/gtest.h>

#include <string>

#include "support/Utf8.h"

using namespace qor;

namespace {

std::u16string Decode(const std::string& bytes) {
    const auto* text = reinterpret_cast<const unsigned char*>(bytes.data());
    std::u16string out(Utf16FromUtf8<char16_t>(text, bytes.size(), nullptr), u'\0');
    EXPECT_EQ(Utf16FromUtf8(text, bytes.size(), out.data()), out.size());
    return out;
}

// Well-formed text at each length's edges, and each kind of ill-formed
// sequence: every maximal subpart gives one U+FFFD and decoding goes on.
TEST(Utf8, DecodesWellFormedTextAndReplacesEachMaximalSubpart) {
    const struct {
        std::string bytes;
        std::u16string text;
    } rows[] = {
        {"", u""},
        {"caf\xC3\xA9", u"caf\u00E9"},
        {"\x7F\xC2\x80\xDF\xBF", u"\u007F\u0080\u07FF"},
        {"\xE0\xA0\x80\xEF\xBF\xBF\xE6\x97\xA5", u"\u0800\uFFFF\u65E5"},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
        {"a\x80" "b\xBF", u"a\uFFFDb\uFFFD"},             // stray continuation bytes
        {"\xC0\xAF\xC1\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong two-byte forms
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xF4\x90\x80\x80\xF5\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xE6\x97" "x\xF0\x9F\x98", u"\uFFFDx\uFFFD"},     // cut short, mid-text and at the end
        {"\xC3", u"\uFFFD"},
    };
    for (const auto& row : rows) EXPECT_EQ(Decode(row.bytes), row.text) << row.bytes;
}

}  // namespace
