#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/ByteBuffer.h"
#include "support/PagedBytes.h"

using namespace qor;

namespace {

using Bytes = std::vector<unsigned char>;

// Output medium that records every RawWrite; flushes in its destructor as a
// concrete medium must.
class RecordingOutput : public OutputBuffer {
public:
    explicit RecordingOutput(uint32_t size) { SetBuffer(size); }
    ~RecordingOutput() override { Flush(); }
    std::vector<Bytes> writes;

protected:
    uint32_t RawWrite(const unsigned char* bytes, uint32_t count) override {
        writes.emplace_back(bytes, bytes + count);
        return count;
    }
};

// Input medium over a byte vector that may grow between reads; records the
// count of every RawRead.
class ScriptedInput : public InputBuffer {
public:
    ScriptedInput(Bytes data, uint32_t size) : data(std::move(data)) { SetBuffer(size); }
    Bytes data;
    std::vector<uint32_t> asked;

protected:
    uint32_t RawRead(unsigned char* destination, uint32_t count) override {
        asked.push_back(count);
        uint32_t n = 0;
        for (uint32_t pos = MediumPosition(); n < count && pos + n < data.size(); ++n) destination[n] = data[pos + n];
        return n;
    }
    void RawSeek(uint32_t) override {}
};

// A stream over a vector that records the positions the sync rules seek to.
class SeekRecordingStream : public ByteStream {
public:
    explicit SeekRecordingStream(uint32_t size) : ByteStream(kSynchronised) {
        OutputBuffer::SetBuffer(size);
        InputBuffer::SetBuffer(size);
    }
    ~SeekRecordingStream() override { Flush(); }
    Bytes medium;
    std::vector<uint32_t> seeks;

protected:
    uint32_t RawWrite(const unsigned char* bytes, uint32_t count) override {
        BeforeRawWrite();
        medium.insert(medium.end(), bytes, bytes + count);
        AfterRawWrite(count);
        return count;
    }
    uint32_t RawRead(unsigned char* destination, uint32_t count) override {
        BeforeRawRead();
        uint32_t n = 0;
        for (; n < count && MediumPosition() + n < medium.size(); ++n) destination[n] = medium[MediumPosition() + n];
        AfterRawRead(count);
        return n;
    }
    void RawSeek(uint32_t position) override { seeks.push_back(position); }
};

Bytes Pattern(size_t n, unsigned seed = 1) {
    Bytes b(n);
    std::mt19937 gen(seed);
    for (auto& c : b) c = static_cast<unsigned char>(gen());
    return b;
}

}  // namespace

TEST(OutputBuffer, FullBufferIsWrittenOnlyWhenTheNextByteArrives) {
    RecordingOutput out(4);
    for (char c : std::string("abcd")) out.PutByte(static_cast<unsigned char>(c));
    EXPECT_TRUE(out.writes.empty());
    EXPECT_EQ(out.Pending(), 4u);
    out.PutByte('e');
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0], (Bytes{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(out.LastPutByte(), 'e');
    out.Flush();
    out.Flush();  // nothing left: no empty write
    ASSERT_EQ(out.writes.size(), 2u);
    EXPECT_EQ(out.writes[1], (Bytes{'e'}));

    RecordingOutput unbuffered(0);
    unbuffered.PutByte('x');
    unbuffered.PutByte(0);
    unbuffered.Flush();
    ASSERT_EQ(unbuffered.writes.size(), 2u);
    EXPECT_EQ(unbuffered.writes[1], (Bytes{0}));
}

TEST(OutputBuffer, ReplacingTheBufferKeepsWaitingBytes) {
    RecordingOutput out(8);
    out.PutByte('a');
    out.PutByte('b');
    out.SetBuffer(2);
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0], (Bytes{'a', 'b'}));
    out.PutByte('c');
    out.SetBuffer(0);
    out.PutByte('d');
    ASSERT_EQ(out.writes.size(), 3u);
    EXPECT_EQ(out.writes[1], (Bytes{'c'}));
    EXPECT_EQ(out.writes[2], (Bytes{'d'}));
}

// What fits the buffer's room waits in it; a larger put first hands the
// waiting bytes on, then goes out in one write when it is at least a buffer,
// else into the buffer.
TEST(OutputBuffer, BulkPutWritesLargeRunsStraightAndSmallOnesThroughTheBuffer) {
    struct Row {
        uint32_t size;
        std::vector<uint32_t> puts;
        std::vector<size_t> writes;  // counts, the final Flush included
    };
    const Row rows[] = {
        {1024, {100, 924, 1}, {1024, 1}},
        {1024, {100, 1000, 5000, 3}, {100, 1000, 5000, 3}},
        {1024, {1024, 1024, 0}, {1024, 1024}},
        {8, {3, 8, 7}, {3, 8, 7}},
        {0, {5, 1, 0}, {5, 1}},
    };
    const Bytes data = Pattern(8000);
    for (const Row& row : rows) {
        RecordingOutput out(row.size);
        size_t pos = 0;
        for (uint32_t n : row.puts) {
            out.PutBytes(data.data() + pos, n);
            pos += n;
            if (n != 0) {
                EXPECT_EQ(out.LastPutByte(), data[pos - 1]);
            }
        }
        out.Flush();
        std::vector<size_t> counts;
        Bytes written;
        for (const Bytes& w : out.writes) {
            counts.push_back(w.size());
            written.insert(written.end(), w.begin(), w.end());
        }
        EXPECT_EQ(counts, row.writes) << "buffer " << row.size;
        EXPECT_EQ(written, Bytes(data.begin(), data.begin() + static_cast<long>(pos))) << "buffer " << row.size;
    }
}

TEST(InputBuffer, EndLeavesVariableAloneAndStaysEnded) {
    ScriptedInput in({'x', 'y'}, 4);
    unsigned char c = '?';
    EXPECT_TRUE(in.GetByte(c).Good());
    EXPECT_EQ(c, 'x');
    EXPECT_TRUE(in.GetByte(c).Good());
    EXPECT_EQ(c, 'y');
    EXPECT_EQ(in.asked, (std::vector<uint32_t>{4}));

    c = '?';
    EXPECT_FALSE(in.GetByte(c).Good());
    EXPECT_EQ(c, '?');
    EXPECT_EQ(in.LastByte(), 0);
    EXPECT_EQ(in.MediumPosition(), 2u);

    // After the end every call asks the medium for a single byte. A medium that
    // grew meanwhile delivers it, but good is never set back.
    EXPECT_FALSE(in.GetByte(c).Good());
    EXPECT_EQ(in.asked.back(), 1u);
    in.data.push_back('z');
    EXPECT_FALSE(in.GetByte(c).Good());
    EXPECT_EQ(c, 'z');
    EXPECT_EQ(in.MediumPosition(), 3u);
    EXPECT_EQ(in.asked, (std::vector<uint32_t>{4, 4, 1, 1}));
}

TEST(InputBuffer, BulkReadsLeaveTheSameStateAsGetByte) {
    const Bytes data = Pattern(3000, 7);
    for (uint32_t size : {0u, 1u, 5u, 1024u}) {
        ScriptedInput bytewise(data, size), runs(data, size), peeks(data, size);
        std::mt19937 gen(size + 1);
        Bytes fromRuns, fromPeeks;
        unsigned char c = 0;
        bool more = true;
        while (more) {
            const uint32_t want = 1 + gen() % 700;
            uint32_t got = 0;
            const unsigned char* run = nullptr;
            while (got < want) {
                const uint32_t n = runs.GetRun(run, want - got);
                if (n == 0) break;
                fromRuns.insert(fromRuns.end(), run, run + n);
                got += n;
            }
            // Peek/consume: take part of what is shown, GetByte when unbuffered.
            uint32_t taken = 0;
            while (taken < got) {
                uint32_t n = peeks.PeekRun(run);
                if (n == 0) {
                    ASSERT_TRUE(peeks.GetByte(c).Good());
                    fromPeeks.push_back(c);
                    ++taken;
                    continue;
                }
                n = std::min(n, got - taken);
                fromPeeks.insert(fromPeeks.end(), run, run + n);
                peeks.Consume(n);
                taken += n;
            }
            for (uint32_t i = 0; i < got; ++i) ASSERT_TRUE(bytewise.GetByte(c).Good());
            if (got < want) {
                EXPECT_FALSE(bytewise.GetByte(c).Good());
                EXPECT_FALSE(peeks.GetByte(c).Good());
                more = false;
            }
            ASSERT_EQ(runs.Good(), bytewise.Good());
            ASSERT_EQ(runs.LastByte(), bytewise.LastByte());
            ASSERT_EQ(runs.MediumPosition(), bytewise.MediumPosition());
            ASSERT_EQ(runs.asked, bytewise.asked) << "size " << size;
            ASSERT_EQ(peeks.LastByte(), bytewise.LastByte());
            ASSERT_EQ(peeks.MediumPosition(), bytewise.MediumPosition());
        }
        EXPECT_EQ(fromRuns, data);
        EXPECT_EQ(fromPeeks, data);
    }
}

TEST(InputBuffer, ReplacingTheBufferLosesNoUnreadByte) {
    ScriptedInput in({'a', 'b', 'c', 'd', 'e'}, 4);
    unsigned char c = 0;
    in.GetByte(c);
    EXPECT_EQ(in.MediumPosition(), 4u);
    in.SetBuffer(2);
    std::string rest;
    while (in.GetByte(c).Good()) rest.push_back(static_cast<char>(c));
    EXPECT_EQ(rest, "bcde");
}

TEST(ByteStream, SynchronisedPositionsSeekOnlyWhenSidesDiffer) {
    SeekRecordingStream s(0);
    s.PutByte('a');
    s.PutByte('b');
    s.PutByte('c');
    EXPECT_TRUE(s.seeks.empty());
    EXPECT_EQ(s.WritePosition(), 3u);
    unsigned char c = 0;
    s.GetByte(c);
    EXPECT_EQ(c, 'a');
    EXPECT_EQ(s.seeks, (std::vector<uint32_t>{0}));  // last access 3, reading at 0
    s.PutByte('d');
    EXPECT_EQ(s.seeks, (std::vector<uint32_t>{0, 3}));  // last access 1, writing at 3
    s.GetByte(c);
    EXPECT_EQ(c, 'b');
    EXPECT_EQ(s.seeks, (std::vector<uint32_t>{0, 3, 1}));

    // Buffered: the read flushes the put buffer first, so the reader sees it.
    SeekRecordingStream b(16);
    b.PutByte('q');
    EXPECT_TRUE(b.medium.empty());
    EXPECT_TRUE(b.GetByte(c).Good());
    EXPECT_EQ(c, 'q');
    EXPECT_EQ(b.seeks, (std::vector<uint32_t>{0}));
    // The read counts as reaching as far as it asked (16), not as far as it
    // got (1): the next write, at 1, seeks back, and so does the read after it.
    b.PutByte('r');
    EXPECT_TRUE(b.GetByte(c).Good());
    EXPECT_EQ(c, 'r');
    EXPECT_EQ(b.seeks, (std::vector<uint32_t>{0, 1, 1}));
}

TEST(ByteBuffer, NothingReachesStorageUntilThe1025thByte) {
    ByteBuffer buffer(ByteStream::kSynchronised, 1024);
    const Bytes data = Pattern(1025, 3);
    for (int i = 0; i < 1024; ++i) buffer.PutByte(data[i]);
    EXPECT_EQ(buffer.Storage().Length(), 0u);
    buffer.PutByte(data[1024]);
    EXPECT_EQ(buffer.Storage().Length(), 1024u);
    unsigned char c = 0;
    ASSERT_TRUE(buffer.GetByte(c).Good());
    EXPECT_EQ(c, data[0]);
    EXPECT_EQ(buffer.Storage().Length(), 1025u);
    for (int i = 1; i < 1025; ++i) {
        ASSERT_TRUE(buffer.GetByte(c).Good());
        ASSERT_EQ(c, data[i]);
    }
    EXPECT_FALSE(buffer.GetByte(c).Good());
}

TEST(ByteBuffer, EmptyBufferEndsAtOnce) {
    ByteBuffer buffer(ByteStream::kSynchronised, 1024);
    unsigned char c = 'k';
    EXPECT_FALSE(buffer.GetByte(c).Good());
    EXPECT_EQ(c, 'k');
    EXPECT_EQ(buffer.LastByte(), 0);
}

TEST(ByteBuffer, DeliversEveryByteIncludingZeroThenStaysAtEnd) {
    Bytes data = Pattern(3000, 5);
    data[0] = 0;
    data[1023] = 0;
    data[1024] = 0;
    data[2999] = 0;
    ByteBuffer buffer(ByteStream::kSynchronised, 1024);
    for (unsigned char b : data) buffer.PutByte(b);
    Bytes read;
    unsigned char c = 0xAA;
    int calls = 0;
    while (buffer.GetByte(c).Good()) {
        read.push_back(c);
        ++calls;
    }
    EXPECT_EQ(calls, 3000);
    EXPECT_EQ(read, data);
    EXPECT_EQ(c, 0);  // the last delivered byte, untouched by the failing call
    EXPECT_EQ(buffer.LastByte(), 0);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(buffer.GetByte(c).Good());
}

TEST(ByteBuffer, InterleavedWritesAndReadsSeeEveryByte) {
    for (uint32_t size : {0u, 7u, 1024u}) {
        ByteBuffer buffer(ByteStream::kSynchronised, size);
        std::string read;
        unsigned char c = 0;
        for (char w : std::string("hello")) buffer.PutByte(static_cast<unsigned char>(w));
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(buffer.GetByte(c).Good());
            read.push_back(static_cast<char>(c));
        }
        for (char w : std::string(" world")) buffer.PutByte(static_cast<unsigned char>(w));
        while (buffer.GetByte(c).Good()) read.push_back(static_cast<char>(c));
        EXPECT_EQ(read, "hello world") << "buffer size " << size;
        EXPECT_EQ(buffer.Storage().Length(), 11u);
    }
}

// Bytes stay where they were stored, in 4096-byte pages that never move,
// across the page boundaries and the page table's replacements.
TEST(PagedBytes, KeepsEveryByteInPlaceAcrossPageAndTableBoundaries) {
    PagedBytes bytes(16);
    const auto value = [](uint32_t i) { return static_cast<unsigned char>(i * 7 + i / 4096); };
    bytes.PushByte(value(0));
    uint32_t count = 1;
    const unsigned char* firstPage = bytes.Span(0, count);
    ASSERT_NE(firstPage, nullptr);
    for (uint32_t i = 1; i <= 64 * 4096; ++i) bytes.PushByte(value(i));
    EXPECT_EQ(bytes.Length(), 64u * 4096u + 1u);
    count = 1;
    EXPECT_EQ(bytes.Span(0, count), firstPage) << "the first page never moved";
    struct Row {
        uint32_t position, asked, inPage;
    };
    for (const Row& row : {Row{0, 5000, 4096}, Row{4090, 100, 6}, Row{4096, 10, 10}, Row{65530, 20, 6},
                           Row{65536, 4096, 4096}, Row{64 * 4096, 9, 1}, Row{64 * 4096 + 1, 9, 0}}) {
        count = row.asked;
        const unsigned char* span = bytes.Span(row.position, count);
        ASSERT_EQ(count, row.inPage) << row.position;
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(span[i], value(row.position + i)) << row.position + i;
    }
    for (const uint32_t i : {4095u, 4096u, 65535u, 65536u, 32u * 4096u, 64u * 4096u}) EXPECT_EQ(bytes.ByteAt(i), value(i));

    // Storage made for no bytes or for many starts empty all the same.
    for (const uint32_t initial : {0u, 70000u}) {
        PagedBytes other(initial);
        EXPECT_EQ(other.Length(), 0u);
        other.PushByte(0x5A);
        EXPECT_EQ(other.Length(), 1u);
        EXPECT_EQ(other.ByteAt(0), 0x5A);
    }
}

TEST(PagedBytes, BulkFormsMatchBytewiseOnes) {
    const Bytes data = Pattern(70000, 9);
    PagedBytes bytewise(16), bulk(16);
    size_t pos = 0;
    std::mt19937 gen(4);
    while (pos < data.size()) {
        const size_t n = std::min<size_t>(data.size() - pos, gen() % 9000);
        for (size_t i = 0; i < n; ++i) bytewise.PushByte(data[pos + i]);
        bulk.PushBytes(data.data() + pos, static_cast<uint32_t>(n));
        pos += n;
        ASSERT_EQ(bulk.Length(), bytewise.Length());
    }
    for (uint32_t i = 0; i < data.size(); ++i) ASSERT_EQ(bulk.ByteAt(i), bytewise.ByteAt(i)) << i;
    Bytes out(data.size() + 10);
    EXPECT_EQ(bulk.CopyOut(4000, out.data(), 9000), 9000u);
    EXPECT_EQ(0, std::memcmp(out.data(), data.data() + 4000, 9000));
    EXPECT_EQ(bulk.CopyOut(69990, out.data(), 100), 10u);
    EXPECT_EQ(bulk.CopyOut(70000, out.data(), 1), 0u);
    const Bytes patch(5000, 0x11);
    EXPECT_EQ(bulk.Overwrite(68000, patch.data(), 5000), 2000u);
    EXPECT_EQ(bulk.Length(), 70000u);
    EXPECT_EQ(bulk.ByteAt(67999), data[67999]);
    EXPECT_EQ(bulk.ByteAt(68000), 0x11);
    EXPECT_EQ(bulk.ByteAt(69999), 0x11);
    for (uint32_t i = 0; i < 68000; i += 997) ASSERT_EQ(bulk.ByteAt(i), data[i]);
}
