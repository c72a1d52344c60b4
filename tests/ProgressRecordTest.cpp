#include "support/ProgressRecord.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace qor {
namespace {

using namespace std::string_view_literals;

TEST(ProgressIdTest, OnlyShortPlainNamesAreIds) {
    struct Row {
        std::u16string id;
        bool valid;
    } rows[] = {
        {u"0123456789abcdef", true},                           // 16, the shortest
        {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ-_abcdefghijklmnopqrstuvwxyz0123456789", true},  // all of the alphabet, 64
        {std::u16string(65, u'a'), false},
        {std::u16string(64, u'Z'), true},                      // the longest
        {u"0123456789abcde", false},                           // 15
        {u"", false},
        {u"Global\\0123456789abcdef", false},                  // another namespace
        {u"..\\..\\0123456789abcdef", false},
        {u"0123456789abcdef/x", false},
        {u"0123456789abcdef\u00e9", false},                    // letters beyond ASCII
        {u"0123456789 abcdef", false},
        {std::u16string(u"0123456789abcdef\0zz", 19), false},  // an embedded NUL
        {u"a-b_c-d_e-f_g-h_", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(IsValidProgressId(std::u16string_view(row.id)), row.valid) << std::string(row.id.begin(), row.id.end());
    EXPECT_FALSE(IsValidProgressId(std::string_view(std::string(100000, 'a'))));
}

TEST(ProgressIdTest, NewIdsAreLowerCaseHexOfTheirBytes) {
    const unsigned char random[16] = {0x00, 0x01, 0xfe, 0xff, 0x10, 0xa5, 0x5a, 0x7f,
                                      0x80, 0x09, 0x90, 0xc3, 0x3c, 0xde, 0xad, 0xbe};
    char16_t text[kNewProgressIdLength];
    FormatProgressId(random, text);
    EXPECT_EQ(std::u16string_view(text, kNewProgressIdLength), u"0001feff10a55a7f800990c33cdeadbe"sv);
    EXPECT_TRUE(IsValidProgressId(std::u16string_view(text, kNewProgressIdLength)));
}

TEST(ProgressRecordTest, ReadersSeeWhatWasPublishedInRange) {
    ProgressRecord record{};
    ProgressSnapshot out;
    EXPECT_FALSE(ReadProgress(record, out));  // nothing published yet

    ProgressSnapshot s;
    s.state = ProgressState::Receiving;
    s.bytesReceived = 50, s.totalBytes = 200, s.filesStored = 1;
    s.SetFileName(std::u16string(300, u'n'));  // longer than its room
    PublishProgress(record, s);
    ASSERT_TRUE(ReadProgress(record, out));
    EXPECT_EQ(out.PercentComplete(), 25);
    EXPECT_EQ(out.FileName().size(), ProgressSnapshot::kFileNameRoom);

    // Memory written by someone else: lengths, state and counts are clamped.
    record.snapshot.fileNameLength = 0xffffffff;
    record.snapshot.errorLength = 100000;
    record.snapshot.state = static_cast<ProgressState>(77);
    record.snapshot.bytesReceived = -5;
    record.snapshot.totalBytes = 10;
    ASSERT_TRUE(ReadProgress(record, out));
    EXPECT_EQ(out.fileNameLength, ProgressSnapshot::kFileNameRoom);
    EXPECT_EQ(out.errorLength, ProgressSnapshot::kErrorRoom);
    EXPECT_EQ(out.state, ProgressState::Unknown);
    EXPECT_EQ(out.bytesReceived, 0);
    // A record left in the middle of a write is never taken for a whole one.
    record.sequence |= 1;
    EXPECT_FALSE(ReadProgress(record, out));

    struct Row {
        int32_t received, total;
        ProgressState state;
        int32_t percent;
    } rows[] = {{0, 0, ProgressState::Receiving, 0},        {1, 3, ProgressState::Receiving, 33},
                {300, 200, ProgressState::Receiving, 100},  {2147483647, 2147483647, ProgressState::Failed, 100},
                {5, 200, ProgressState::Done, 100},         {2147483646, 2147483647, ProgressState::Receiving, 99}};
    for (const Row& row : rows) {
        ProgressSnapshot p;
        p.bytesReceived = row.received, p.totalBytes = row.total, p.state = row.state;
        EXPECT_EQ(p.PercentComplete(), row.percent) << row.received << " of " << row.total;
    }
}

// Every field of a published snapshot derives from one number, so a reader
// that mixed two publications would see fields that disagree.
TEST(ProgressRecordTest, AReaderNeverSeesATornRecord) {
    ProgressRecord record{};
    std::atomic<bool> stop{false};
    auto snapshotOf = [](int32_t n) {
        ProgressSnapshot s;
        s.state = ProgressState::Receiving;
        s.bytesReceived = n, s.totalBytes = 2 * n, s.elapsedMilliseconds = 3 * n;
        s.SetFileName(std::u16string(static_cast<size_t>(n % 200), static_cast<char16_t>(u'a' + n % 26)));
        return s;
    };
    PublishProgress(record, snapshotOf(0));
    std::thread writer([&] {
        for (int32_t n = 1; !stop.load(std::memory_order_relaxed); ++n) PublishProgress(record, snapshotOf(n));
    });
    int consistent = 0, torn = 0, last = -1, backwards = 0;
    for (int i = 0; i < 200000; ++i) {
        ProgressSnapshot out;
        if (!ReadProgress(record, out)) continue;
        const int32_t n = out.bytesReceived;
        const bool same = out.totalBytes == 2 * n && out.elapsedMilliseconds == 3 * n &&
                          out.fileNameLength == static_cast<uint32_t>(n % 200) &&
                          (n % 200 == 0 || (out.fileName[0] == u'a' + n % 26 && out.fileName[n % 200 - 1] == out.fileName[0]));
        (same ? consistent : torn)++;
        backwards += n < last;
        last = n;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_GT(consistent, 0);
}

}  // namespace
}  // namespace qor
