#include "parse/PartDataScan.h"

#include <cstring>

#include "support/ByteSearch.h"

namespace qor {

DelimiterLine::DelimiterLine(const unsigned char* line, uint32_t lineLength)
    : bytes(line),
      length(lineLength),
      crInDelimiter(lineLength > 2 && std::memchr(line + 2, '\r', lineLength - 2) != nullptr) {}

namespace {

// How many of the available bytes at `at` match the delimiter line followed
// by "--" or CR LF: the count up to the first that differs, length + 2 for
// a whole match.
uint32_t MatchedLine(const unsigned char* at, uint32_t available, const DelimiterLine& line) {
    const uint32_t m = bytesearch::MatchedPrefix(at, available, line.bytes, line.length);
    if (m < line.length || m == available) return m;
    const unsigned char first = at[m];
    if (first != '-' && first != '\r') return m;
    if (m + 1 == available) return m + 1;
    return at[m + 1] == (first == '-' ? '-' : '\n') ? m + 2 : m + 1;
}

// The next place at or after from where the line may begin. Where the
// delimiter holds a CR, a line may begin inside a near miss that the
// two-byte filter would let the search pass over; there every CR LF is a
// candidate.
uint32_t NextCandidate(const unsigned char* window, uint32_t from, uint32_t n, const DelimiterLine& line) {
    if (line.crInDelimiter) return bytesearch::FindCrLf(window, from, n);
    return bytesearch::FindLineCandidate(window, from, n, line.bytes, line.length);
}

}  // namespace

PartScan ScanPartData(const unsigned char* window, uint32_t n, const DelimiterLine& line) {
    for (uint32_t from = 0;;) {
        const uint32_t at = NextCandidate(window, from, n, line);
        if (at == n) return {n, PartEnd::Data};
        // At least the CR matches, so the search always moves on.
        const uint32_t matched = MatchedLine(window + at, n - at, line);
        if (matched == line.length + 2)
            return {at, window[at + line.length] == '-' ? PartEnd::Closing : PartEnd::NextPart};
        if (at + matched == n) return {at, PartEnd::Held};
        from = at + matched;
    }
}

}  // namespace qor
