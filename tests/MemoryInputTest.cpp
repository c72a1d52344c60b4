// The reader over memory that someone else holds delivers the bytes in
// order through every way of reading, as a ByteBuffer holding them does, and
// reads in place: every run points into the memory and reaches its end.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/ByteBuffer.h"
#include "support/MemoryInput.h"

using namespace qor;

namespace {

// Reads everything through a random mix of GetByte, GetRun and PeekRun with a
// partial Consume, checking the last byte and the good flag as it goes.
std::string ReadAll(InputBuffer& input, const unsigned char* memory, unsigned seed) {
    std::mt19937 random(seed);
    std::string out;
    while (input.Good()) {
        const unsigned how = random() % 3;
        const uint32_t want = random() % 3000;
        const unsigned char* run = nullptr;
        unsigned char c = 0;
        uint32_t n = 0;
        if (how == 0 && input.GetByte(c).Good()) {
            out.push_back(static_cast<char>(c));
            n = 1;
        }
        if (how == 1) n = input.GetRun(run, want);
        if (how == 2) {
            n = input.PeekRun(run);
            if (memory != nullptr && n != 0) {
                EXPECT_EQ(run, memory + out.size()) << "read in place";
            }
            n = n < want ? n : want;
            input.Consume(n);
        }
        if (how != 0) out.append(reinterpret_cast<const char*>(run), n);
        if (n != 0) {
            EXPECT_EQ(input.LastByte(), static_cast<unsigned char>(out.back()));
        }
        if (!input.Good()) {
            EXPECT_EQ(input.LastByte(), 0);
        }
    }
    return out;
}

}  // namespace

TEST(MemoryInput, DeliversTheBytesInPlaceInEveryWayOfReading) {
    std::mt19937 random(7);
    for (const uint32_t size : {0u, 1u, 100u, 70000u, 200000u}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        MemoryInput memory(data, size);
        const unsigned char* run = nullptr;
        if (size != 0) {
            EXPECT_EQ(memory.PeekRun(run), size) << "one run to the end";
            EXPECT_EQ(run, data);
        }
        EXPECT_EQ(ReadAll(memory, data, size), bytes);
        EXPECT_EQ(memory.PeekRun(run), 0u);
        ByteBuffer buffer(ByteStream::kSynchronised, 1024);
        buffer.PutBytes(data, size);
        EXPECT_EQ(ReadAll(buffer, nullptr, size), bytes);
    }
}
