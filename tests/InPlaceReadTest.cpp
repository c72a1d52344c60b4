// A ByteBuffer reads blocks that lie in one page in place and shows the rest
// of the page beyond the get buffer. Everything a reader can see must stay
// as if every block were copied into the get buffer: compared here against a
// ByteBuffer that always copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/ByteBuffer.h"

using namespace qor;

namespace {

using Bytes = std::vector<unsigned char>;

// The copying reader: every refill goes through RawRead into the get buffer,
// and nothing is shown beyond it.
class CopyingByteBuffer : public ByteBuffer {
public:
    using ByteBuffer::ByteBuffer;

protected:
    uint32_t RawReadView(unsigned char* destination, uint32_t count, const unsigned char*& bytes) override {
        bytes = destination;
        return RawRead(destination, count);
    }
    uint32_t RawContiguous(uint32_t, const unsigned char*) const override { return 0; }
};

Bytes Pattern(size_t n, unsigned seed) {
    Bytes b(n);
    std::mt19937 gen(seed);
    for (auto& c : b) c = static_cast<unsigned char>(gen());
    return b;
}

void ExpectSameState(const ByteBuffer& actual, const ByteBuffer& expected, int step) {
    ASSERT_EQ(actual.Good(), expected.Good()) << step;
    ASSERT_EQ(actual.LastByte(), expected.LastByte()) << step;
    ASSERT_EQ(actual.MediumPosition(), expected.MediumPosition()) << step;
    ASSERT_EQ(actual.LastAccessPosition(), expected.LastAccessPosition()) << step;
    ASSERT_EQ(actual.Storage().Length(), expected.Storage().Length()) << step;
    ASSERT_EQ(actual.Pending(), expected.Pending()) << step;
}

// Whether a run shown at the body's position points into the buffer's own
// pages.
bool InPlace(const ByteBuffer& buffer, const unsigned char* run, size_t position) {
    uint32_t count = 1;
    return buffer.Storage().Span(static_cast<uint32_t>(position), count) == run;
}

// Takes up to max bytes with GetRun.
void TakeRuns(ByteBuffer& buffer, uint32_t max, Bytes& read) {
    const unsigned char* run = nullptr;
    while (const uint32_t n = max ? buffer.GetRun(run, max) : 0) {
        read.insert(read.end(), run, run + n);
        max -= n;
    }
}

// PeekRun at position, as text.
std::string Peek(ByteBuffer& buffer, size_t position, bool& inPlace) {
    const unsigned char* run = nullptr;
    const uint32_t shown = buffer.PeekRun(run);
    inPlace = shown != 0 && InPlace(buffer, run, position);
    return std::string(reinterpret_cast<const char*>(run), shown);
}

std::string Slice(const Bytes& data, size_t from, size_t count) {
    return std::string(reinterpret_cast<const char*>(data.data()) + from, count);
}

}  // namespace

TEST(InPlaceRead, InterleavedWritesAndReadsMatchTheCopyingReader) {
    const Bytes data = Pattern(300000, 11);
    for (uint32_t size : {0u, 1u, 7u, 1000u, 1024u, 4096u, 5000u}) {
        ByteBuffer actual(ByteStream::kSynchronised, size);
        CopyingByteBuffer expected(ByteStream::kSynchronised, size);
        std::mt19937 gen(size + 3);
        size_t written = 0;
        Bytes readActual, readExpected;
        int inPlace = 0;
        // Reads stay behind the writes (some of which wait in the put buffer
        // until a read flushes them), so the end is met only at the drain.
        for (int step = 0; step < 3000; ++step) {
            const size_t unread = written - readExpected.size();
            const unsigned op = unread == 0 ? 0 : gen() % 5;
            if (op == 0 && written < data.size()) {
                const uint32_t n = static_cast<uint32_t>(std::min<size_t>(data.size() - written, gen() % 9000));
                actual.PutBytes(data.data() + written, n);
                expected.PutBytes(data.data() + written, n);
                written += n;
            } else if (op == 1) {
                const uint32_t max = static_cast<uint32_t>(std::min<size_t>(unread, 1 + gen() % 6000));
                TakeRuns(actual, max, readActual);
                TakeRuns(expected, max, readExpected);
            } else if (op == 2 || op == 3) {
                // Peek, then take all that was shown or a part of it; the
                // copying reader takes the same bytes a get buffer at a time.
                const unsigned char* run = nullptr;
                const uint32_t shown = actual.PeekRun(run);
                const uint32_t take = shown == 0 ? 0 : op == 2 ? shown : 1 + gen() % shown;
                inPlace += shown != 0 && InPlace(actual, run, readActual.size());
                readActual.insert(readActual.end(), run, run + take);
                actual.Consume(take);
                for (uint32_t left = take; left != 0;) {
                    const uint32_t n = std::min(left, expected.PeekRun(run));
                    ASSERT_NE(n, 0u);
                    readExpected.insert(readExpected.end(), run, run + n);
                    expected.Consume(n);
                    left -= n;
                }
            } else if (op == 4 && gen() % 8 == 0) {
                const uint32_t resize = gen() % 2 ? static_cast<uint32_t>(gen() % 5000) : size;
                actual.InputBuffer::SetBuffer(resize);
                expected.InputBuffer::SetBuffer(resize);
            }
            ExpectSameState(actual, expected, step);
            ASSERT_EQ(readActual, readExpected) << "buffer " << size << ", step " << step;
        }
        // Drain: the rest, then the end, in the same state for both.
        actual.PutBytes(data.data() + written, static_cast<uint32_t>(data.size() - written));
        expected.PutBytes(data.data() + written, static_cast<uint32_t>(data.size() - written));
        unsigned char a = 0, e = 0;
        while (actual.GetByte(a).Good()) readActual.push_back(a);
        while (expected.GetByte(e).Good()) readExpected.push_back(e);
        ExpectSameState(actual, expected, -1);
        EXPECT_EQ(readActual, data) << "buffer " << size;
        EXPECT_EQ(readExpected, data) << "buffer " << size;
        if (size != 0) {
            EXPECT_GT(inPlace, 0) << "buffer " << size;
        }
    }
}

TEST(InPlaceRead, RunsReachThePageEndAndStopAtPageBoundariesAndTheEnd) {
    const Bytes data = Pattern(10000, 5);
    bool inPlace = false;

    // A put larger than the put buffer reaches the storage at once.
    ByteBuffer pages(ByteStream::kSynchronised, 1024);
    pages.PutBytes(data.data(), 10000);
    EXPECT_EQ(pages.Storage().Length(), 10000u);
    EXPECT_EQ(Peek(pages, 0, inPlace), Slice(data, 0, 4096));
    EXPECT_TRUE(inPlace);
    EXPECT_EQ(pages.Storage().Length(), 10000u);
    EXPECT_EQ(pages.MediumPosition(), 1024u);  // one block taken from the medium so far
    pages.Consume(4096);
    EXPECT_EQ(pages.MediumPosition(), 4096u);
    EXPECT_EQ(pages.LastAccessPosition(), 4096u);
    EXPECT_EQ(pages.LastByte(), data[4095]);
    pages.Consume(0);
    EXPECT_EQ(pages.MediumPosition(), 4096u);
    EXPECT_EQ(Peek(pages, 4096, inPlace), Slice(data, 4096, 4096));
    pages.Consume(100);
    EXPECT_EQ(Peek(pages, 4196, inPlace), Slice(data, 4196, 3996));
    EXPECT_TRUE(inPlace);
    pages.Consume(3996);
    // The last page holds only what is stored: up to the end of the body.
    EXPECT_EQ(Peek(pages, 8192, inPlace), Slice(data, 8192, 1808));
    pages.Consume(5000);  // more than shown: only what was shown is taken
    EXPECT_EQ(pages.MediumPosition(), 10000u);
    EXPECT_EQ(pages.LastAccessPosition(), 9216u + 1024u);
    EXPECT_TRUE(pages.Good());
    EXPECT_EQ(pages.LastByte(), data[9999]);
    EXPECT_EQ(Peek(pages, 10000, inPlace), "");
    EXPECT_FALSE(pages.Good());
    EXPECT_EQ(pages.LastByte(), 0);

    // A block that straddles two pages is copied, and nothing is shown beyond it.
    ByteBuffer straddling(ByteStream::kSynchronised, 1000);
    straddling.PutBytes(data.data(), 10000);
    EXPECT_EQ(Peek(straddling, 0, inPlace), Slice(data, 0, 4096));
    EXPECT_TRUE(inPlace);
    straddling.Consume(4000);
    EXPECT_EQ(Peek(straddling, 4000, inPlace), Slice(data, 4000, 1000));
    EXPECT_FALSE(inPlace);
    straddling.Consume(1000);
    EXPECT_EQ(Peek(straddling, 5000, inPlace), Slice(data, 5000, 3192));
    EXPECT_TRUE(inPlace);

    // A get buffer of one byte still shows the rest of the page, taken one
    // refill per byte.
    ByteBuffer single(ByteStream::kSynchronised, 1);
    single.PutBytes(data.data(), 5000);
    EXPECT_EQ(Peek(single, 0, inPlace), Slice(data, 0, 4096));
    single.Consume(4096);
    EXPECT_EQ(single.MediumPosition(), 4096u);
    EXPECT_EQ(single.LastAccessPosition(), 4096u);
    unsigned char c = 0;
    ASSERT_TRUE(single.GetByte(c).Good());
    EXPECT_EQ(c, data[4096]);

    // Unbuffered reading shows nothing; GetByte goes on.
    ByteBuffer unbuffered(ByteStream::kSynchronised, 0);
    unbuffered.PutBytes(data.data(), 10);
    EXPECT_EQ(Peek(unbuffered, 0, inPlace), "");
    EXPECT_TRUE(unbuffered.Good());
    ASSERT_TRUE(unbuffered.GetByte(c).Good());
    EXPECT_EQ(c, data[0]);

    // Bytes still in the put buffer are flushed by the read and shown in place.
    ByteBuffer pending(ByteStream::kSynchronised, 1024);
    pending.PutByte('a');
    pending.PutByte('b');
    EXPECT_EQ(pending.Storage().Length(), 0u);
    EXPECT_EQ(Peek(pending, 0, inPlace), "ab");
    EXPECT_TRUE(inPlace);
    pending.PutByte('c');  // waits in the put buffer: not shown until the next refill
    pending.Consume(2);
    ASSERT_TRUE(pending.GetByte(c).Good());
    EXPECT_EQ(c, 'c');
}
