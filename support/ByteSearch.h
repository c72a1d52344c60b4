#pragma once
// The byte searches of the multipart hot path. Each states its rule in plain
// words; the test holds the same rules as the simplest loops and runs both on
// the same inputs. Nothing here allocates or raises.
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// An AVX2 path chosen at run time, where the compiler can build one function
// for it without building the rest for it too.
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QOR_BYTESEARCH_AVX2 1
#include <immintrin.h>
#endif

namespace qor {

namespace bytesearch {

// The first index i in [from, n) where run[i] is CR and run[i + 1] is LF, or
// i + 1 == n (the LF may begin the next run); n when there is none. Where a
// multipart delimiter may begin: any other CR is data. Data holds a CR every
// 256 bytes on average but a CR LF only every 64 KiB, so looking for the pair
// skips nearly all the stops that a search for CR would make.
inline uint32_t FindCrLf(const unsigned char* run, uint32_t from, uint32_t n) {
    uint32_t p = from;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const auto pairs = [&](uint32_t at) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at + 1));
        return _mm_and_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(next, lf));
    };
    const auto anyIn64 = [&](uint32_t at) {
        const __m128i low = _mm_or_si128(pairs(at), pairs(at + 16));
        const __m128i high = _mm_or_si128(pairs(at + 32), pairs(at + 48));
        return _mm_movemask_epi8(_mm_or_si128(low, high)) != 0;
    };
    // 16 bytes a step while byte p + 16 is in the run (each step reads one
    // byte beyond its 16): data full of line breaks finds one soon. Past the
    // first step, long stretches go 64 bytes a step.
    while (n - p > 16) {
        const int mask = _mm_movemask_epi8(pairs(p));
        if (mask != 0) return p + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        p += 16;
        while (n - p > 64 && !anyIn64(p)) p += 64;
    }
#endif
    for (; p < n; ++p)
        if (run[p] == '\r' && (p + 1 == n || run[p + 1] == '\n')) return p;
    return n;
}

// The first index in [from, n) that holds CR or LF; n when there is none.
// Sixteen bytes are compared at a time where the vector unit allows, then
// eight (a byte equal to either leaves a zero byte after the XOR); the byte
// loop then finds which.
inline uint32_t FindLineBreak(const unsigned char* run, uint32_t from, uint32_t n) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    uint32_t i = from;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; n - i >= 16; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + i));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
        if (mask != 0) return i + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; n - i >= 8; i += 8) {
        uint64_t word;
        std::memcpy(&word, run + i, 8);
        const uint64_t cr = word ^ (kOnes * '\r');
        const uint64_t lf = word ^ (kOnes * '\n');
        if ((((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHighs) break;
    }
    for (; i < n; ++i)
        if (run[i] == '\r' || run[i] == '\n') return i;
    return n;
}

// The first index i in [from, n) where a copy of line (length bytes, at
// least 1) may begin: run[i] equals the line's first byte and, when the whole
// line fits before n, run[i + length - 1] equals its last; n when there is
// none. A candidate still needs an exact compare. Data, and near misses of a
// multipart delimiter line (CR LF, then a prefix of the delimiter, then
// anything else), rarely match both ends, so they do not stop the search.
inline uint32_t FindLineCandidatePlain(const unsigned char* run, uint32_t from, uint32_t n, const unsigned char* line,
                                       uint32_t length);
// FindLineCandidate with sixteen-byte vectors only, whatever the processor.
inline uint32_t FindLineCandidateNarrow(const unsigned char* run, uint32_t from, uint32_t n, const unsigned char* line,
                                        uint32_t length);

#if defined(QOR_BYTESEARCH_AVX2)
// From p on, 64 positions a step while their last bytes lie in the run and
// none is a candidate; gives back the first position not passed over. Two
// 32-byte vectors of heads and two of tails a step.
__attribute__((target("avx2"))) inline uint32_t SkipNonCandidatesAvx2(const unsigned char* run, uint32_t p, uint32_t n,
                                                                      const unsigned char* line, uint32_t length) {
    const __m256i first = _mm256_set1_epi8(static_cast<char>(line[0]));
    const __m256i last = _mm256_set1_epi8(static_cast<char>(line[length - 1]));
    for (; n - p >= 64 + length; p += 64) {
        const unsigned char* head = run + p;
        const unsigned char* tail = run + p + length - 1;
        const __m256i low = _mm256_and_si256(
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(head)), first),
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(tail)), last));
        const __m256i high = _mm256_and_si256(
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(head + 32)), first),
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(tail + 32)), last));
        const __m256i any = _mm256_or_si256(low, high);
        if (!_mm256_testz_si256(any, any)) break;
    }
    return p;
}

// Asked of the processor once.
inline bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

inline uint32_t FindLineCandidate(const unsigned char* run, uint32_t from, uint32_t n, const unsigned char* line,
                                  uint32_t length) {
#if defined(QOR_BYTESEARCH_AVX2)
    if (HasAvx2()) from = SkipNonCandidatesAvx2(run, from, n, line, length);
#endif
    return FindLineCandidateNarrow(run, from, n, line, length);
}

inline uint32_t FindLineCandidateNarrow(const unsigned char* run, uint32_t from, uint32_t n, const unsigned char* line,
                                        uint32_t length) {
    uint32_t p = from;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(line[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(line[length - 1]));
    const auto both = [&](uint32_t at) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run + at + length - 1));
        return _mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last));
    };
    // 64 positions a step while their last bytes lie in the run, then 16.
    while (n - p >= 64 + length) {
        const __m128i any = _mm_or_si128(_mm_or_si128(both(p), both(p + 16)), _mm_or_si128(both(p + 32), both(p + 48)));
        if (_mm_movemask_epi8(any) != 0) break;
        p += 64;
    }
    while (n - p >= 16 + length) {
        const int mask = _mm_movemask_epi8(both(p));
        if (mask != 0) return p + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        p += 16;
    }
#endif
    return FindLineCandidatePlain(run, p, n, line, length);
}

inline uint32_t FindLineCandidatePlain(const unsigned char* run, uint32_t from, uint32_t n, const unsigned char* line,
                                       uint32_t length) {
    for (uint32_t p = from; p < n; ++p)
        if (run[p] == line[0] && (n - p < length || run[p + length - 1] == line[length - 1])) return p;
    return n;
}

// How many leading bytes of text (available bytes) equal the first bytes of
// delimiter (length bytes): the count up to the first byte that differs, at
// most the smaller of the two lengths. Eight bytes a step, then byte by byte.
inline uint32_t MatchedPrefix(const unsigned char* text, uint32_t available, const unsigned char* delimiter,
                              uint32_t length) {
    const uint32_t limit = available < length ? available : length;
    uint32_t m = 0;
    for (; m + 8 <= limit; m += 8) {
        uint64_t a, b;
        std::memcpy(&a, text + m, 8);
        std::memcpy(&b, delimiter + m, 8);
        if (a != b) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return m + static_cast<uint32_t>(__builtin_ctzll(a ^ b)) / 8;
#else
            break;
#endif
        }
    }
    while (m < limit && text[m] == delimiter[m]) ++m;
    return m;
}

}  // namespace bytesearch

}  // namespace qor
