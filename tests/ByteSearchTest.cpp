// Each fast byte search against its plain twin on the same inputs: random
// bytes dense in CR, LF and delimiter bytes, searched whole from every start
// and in runs that grow one byte at a time, so every position is once the
// last byte of a run.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/ByteSearch.h"

using namespace qor;

namespace {

// The rules of the fast searches in the simplest loops.
uint32_t FindCrLfPlain(const unsigned char* run, uint32_t from, uint32_t n) {
    for (uint32_t p = from; p < n; ++p)
        if (run[p] == '\r' && (p + 1 == n || run[p + 1] == '\n')) return p;
    return n;
}
uint32_t FindLineBreakPlain(const unsigned char* run, uint32_t from, uint32_t n) {
    for (uint32_t i = from; i < n; ++i)
        if (run[i] == '\r' || run[i] == '\n') return i;
    return n;
}
uint32_t MatchedPrefixPlain(const unsigned char* text, uint32_t available, const unsigned char* delimiter,
                            uint32_t length) {
    uint32_t m = 0;
    while (m < available && m < length && text[m] == delimiter[m]) ++m;
    return m;
}

}  // namespace

TEST(ByteSearch, FastSearchesAgreeWithTheirPlainTwins) {
    std::mt19937 random(11);
    const std::string alphabet = "\r\n-AaB03xz\r\n\r";
    const std::string delimiter = "--AaB03x--AaB03x";  // longer than one eight-byte step
    const auto* delim = reinterpret_cast<const unsigned char*>(delimiter.data());
    int stops = 0;
    for (int round = 0; round < 300; ++round) {
        std::string text(static_cast<size_t>(random() % 200), '\0');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        if (round % 3 == 0 && text.size() > 20) text.replace(random() % (text.size() - 20), 18, "\r\n" + delimiter);
        const auto* run = reinterpret_cast<const unsigned char*>(text.data());
        const auto size = static_cast<uint32_t>(text.size());
        for (uint32_t from = 0; from <= size; ++from) {
            for (uint32_t n = from; n <= size; ++n) {
                ASSERT_EQ(bytesearch::FindCrLf(run, from, n), FindCrLfPlain(run, from, n))
                    << round << " " << from << " " << n;
                ASSERT_EQ(bytesearch::FindLineBreak(run, from, n), FindLineBreakPlain(run, from, n))
                    << round << " " << from << " " << n;
            }
            for (uint32_t length = 0; length <= delimiter.size(); ++length) {
                const uint32_t m = bytesearch::MatchedPrefix(run + from, size - from, delim, length);
                ASSERT_EQ(m, MatchedPrefixPlain(run + from, size - from, delim, length)) << round << " " << from;
                stops += m == length && length > 8;
            }
        }
    }
    EXPECT_GT(stops, 100) << "whole delimiters longer than one step were matched";
}

// The two-byte filter against its plain loop: every start and end of the
// window over text dense in CR, LF and the line's own bytes, so candidates
// fall at every alignment, at the window's very end, and cut by it.
TEST(ByteSearch, LineCandidateSearchAgreesWithItsPlainLoop) {
    std::mt19937 random(12);
    const std::string alphabet = "\r\n-AaB03xz";
    const std::string line = "\r\n--AaB03x";
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    int found = 0, cut = 0;
    for (int round = 0; round < 200; ++round) {
        std::string text(static_cast<size_t>(random() % 300), '\0');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        for (size_t at = 0; at + line.size() <= text.size(); at += 40 + random() % 60) text.replace(at, line.size(), line);
        const auto* run = reinterpret_cast<const unsigned char*>(text.data());
        const auto size = static_cast<uint32_t>(text.size());
        for (uint32_t length : {1u, 2u, 7u, static_cast<uint32_t>(line.size())}) {
            for (uint32_t from = 0; from <= size; ++from) {
                for (uint32_t n = from; n <= size; n += 1 + (n % 5 == 0 ? 0 : 3)) {
                    const uint32_t plain = bytesearch::FindLineCandidatePlain(run, from, n, bytes, length);
                    ASSERT_EQ(bytesearch::FindLineCandidate(run, from, n, bytes, length), plain)
                        << round << " " << length << " " << from << " " << n;
                    ASSERT_EQ(bytesearch::FindLineCandidateNarrow(run, from, n, bytes, length), plain)
                        << round << " " << length << " " << from << " " << n;
                    found += plain != n && n - plain >= length;
                    cut += plain != n && n - plain < length;
                }
            }
        }
    }
    EXPECT_GT(found, 1000);
    EXPECT_GT(cut, 1000);
}
