// The scan's rule on windows that each hold one case: data, near misses of
// every kind, a delimiter line at the start, the middle and the end, a window
// that ends inside a possible line, and a delimiter that holds a CR.
#include <gtest/gtest.h>

#include <string>

#include "parse/PartDataScan.h"

using namespace qor;

namespace {

struct Row {
    std::string line;  // CR LF and the delimiter
    std::string window;
    uint32_t data;
    PartEnd end;
};

TEST(PartDataScan, FindsWhereTheDataEndsAndHoldsWhatTheWindowCannotDecide) {
    const std::string d = "\r\n--AB";
    const Row rows[] = {
        {d, "", 0, PartEnd::Data},
        {d, "plain data", 10, PartEnd::Data},
        {d, "x\r\n--AB--tail", 1, PartEnd::Closing},
        {d, "\r\n--AB\r\nContent", 0, PartEnd::NextPart},
        {d, "ab\r\n--A\r\n--AB--", 7, PartEnd::Closing},    // a prefix, then the line
        {d, "\r\n--ABx\r\n--AB-x\r\n--AB\rx", 23, PartEnd::Data},  // the line, then no "--" or CR LF
        {d, "\r\r\n--AB\r\n", 1, PartEnd::NextPart},          // a lone CR is data
        {d, "data\r\n--A", 4, PartEnd::Held},
        {d, "data\r\n--AB-", 4, PartEnd::Held},
        {d, "data\r\n--AB\r", 4, PartEnd::Held},
        {d, "data\r", 4, PartEnd::Held},
        {d, "\r\n--AB-", 0, PartEnd::Held},
        // A CR in the delimiter: the search goes on after a near miss's last
        // matching byte, so a line that begins inside the near miss is data.
        {"\r\n--A\rB", "\r\n--A\r\n--A\rB--", 14, PartEnd::Data},
        {"\r\n--A\rB", "x\r\n--A\rB\r\n", 1, PartEnd::NextPart},
    };
    for (const Row& row : rows) {
        const DelimiterLine line(reinterpret_cast<const unsigned char*>(row.line.data()),
                                 static_cast<uint32_t>(row.line.size()));
        const PartScan scan = ScanPartData(reinterpret_cast<const unsigned char*>(row.window.data()),
                                           static_cast<uint32_t>(row.window.size()), line);
        EXPECT_EQ(scan.data, row.data) << testing::PrintToString(row.window);
        EXPECT_EQ(scan.end, row.end) << testing::PrintToString(row.window);
    }
}

}  // namespace
