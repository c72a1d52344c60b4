#pragma once
#include <cstdint>

namespace qor {

// CR LF and the multipart delimiter in one piece: where a part's data ends.
struct DelimiterLine {
    const unsigned char* bytes = nullptr;
    uint32_t length = 0;        // 2 + the delimiter's length
    bool crInDelimiter = false;  // the delimiter itself holds a CR

    DelimiterLine() = default;
    DelimiterLine(const unsigned char* line, uint32_t lineLength);
};

// What a window of a part's data holds.
enum class PartEnd : uint8_t {
    Data,      // every byte of the window is data
    Held,      // the bytes after `data` may begin a delimiter line: more bytes decide
    Closing,   // the closing delimiter line begins at `data`: no part follows
    NextPart,  // a delimiter line begins at `data`, and another part follows
};
struct PartScan {
    uint32_t data;  // bytes at the window's start that are surely data
    PartEnd end;
};

// How many of the n bytes at window are a part's data, and what follows them.
//
// The rule: the data runs up to the first place that holds the delimiter line
// (CR LF and the delimiter) followed by "--" (Closing) or by CR LF
// (NextPart); the line and its two bytes are no data. The search goes from
// the window's start; a place that matches only part of the way (a near
// miss) is data, and the search goes on at the first byte that did not
// match, so that no byte of a near miss is looked at twice as the start of
// a line. When the window ends inside such a match, the data stops where it
// began (Held): the caller keeps those bytes and scans them again with the
// bytes that follow, or drops them when the body ends there.
//
// Pure: it reads the window and the line, and touches nothing else.
PartScan ScanPartData(const unsigned char* window, uint32_t n, const DelimiterLine& line);

}  // namespace qor
