// Peak resident memory of a parse as the upload object runs it: the host's
// array is built first, then parsed in place up to closed temporary files and
// built lists. Prints the resident memory before the parse (mostly the array)
// and the peak during it, both from /proc/self/status, the peak reset just
// before the parse. Linux only. Run:
//   build/native/bench/peak_memory large   (one 256 MiB file part)
//   build/native/bench/peak_memory tiny    (8 MiB of "a=&")
//   build/native/bench/peak_memory chunked (the large body, made and read in
//                                           64 KiB chunks, never whole)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "support/ChunkedInput.h"
#include "support/MemoryInput.h"
#include "parse/PostDataParser.h"
#include "bench/UrlEncodedBodies.h"

using namespace qor;

namespace {

long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(key), key) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

const std::string kLargeHead =
    "--b\r\nContent-Disposition: form-data; name=\"large\"; filename=\"large.bin\"\r\n"
    "Content-Type: application/octet-stream\r\n\r\n";
const std::string kLargeTail = "\r\n--b--\r\n";
constexpr size_t kLargeData = 256u << 20;

// Byte `at` of the large body: its head, pseudo-random data, its tail.
struct LargeBodyBytes {
    uint64_t state = 1;
    void Fill(unsigned char* out, size_t at, size_t count) {
        for (size_t i = 0; i < count; ++i, ++at) {
            if (at < kLargeHead.size()) {
                out[i] = static_cast<unsigned char>(kLargeHead[at]);
            } else if (at < kLargeHead.size() + kLargeData) {
                state = state * 6364136223846793005ull + 1442695040888963407ull;
                out[i] = static_cast<unsigned char>(state >> 56);
            } else {
                out[i] = static_cast<unsigned char>(kLargeTail[at - kLargeHead.size() - kLargeData]);
            }
        }
    }
};

// The array filled in place, without a second copy of the body in memory.
unsigned char* LargeFileArray(size_t& size) {
    size = kLargeHead.size() + kLargeData + kLargeTail.size();
    auto* array = static_cast<unsigned char*>(std::malloc(size));
    LargeBodyBytes().Fill(array, 0, size);
    return array;
}

// The large body made chunk by chunk as it is asked for.
class LargeBodyChunks final : public ChunkedInput {
public:
    static constexpr uint32_t kChunk = 65536;
    LargeBodyChunks() : ChunkedInput(static_cast<uint32_t>(Size()), kChunk) {}
    static size_t Size() { return kLargeHead.size() + kLargeData + kLargeTail.size(); }

protected:
    uint32_t ReadChunk(uint32_t count, const unsigned char*& bytes) override {
        bytes_.Fill(chunk_, given_, count);
        given_ += count;
        bytes = chunk_;
        return count;
    }
    void EndedEarly(uint32_t, uint32_t) override { std::abort(); }

private:
    LargeBodyBytes bytes_;
    size_t given_ = 0;
    unsigned char chunk_[kChunk];
};

unsigned char* CopyToArray(const std::string& body, size_t& size) {
    size = body.size();
    auto* array = static_cast<unsigned char*>(std::malloc(size));
    std::memcpy(array, body.data(), size);
    return array;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "large";
    size_t size = 0;
    unsigned char* array = nullptr;
    const char* contentType = nullptr;
    if (which == "large") {
        array = LargeFileArray(size);
        contentType = "multipart/form-data; boundary=b";
    } else if (which == "tiny") {
        array = CopyToArray(TinyPairsBody(), size);  // the string is gone before the parse
        contentType = "application/x-www-form-urlencoded";
    } else if (which != "chunked") {
        std::fprintf(stderr, "usage: peak_memory large|tiny|chunked\n");
        return 2;
    }
    // Writing 5 to clear_refs resets the peak to the present resident size.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKiB("VmRSS:");
    uint32_t fields = 0, files = 0, values = 0;
    {
        PostDataParser parser;
        if (array != nullptr) {
            MemoryInput input(array, static_cast<uint32_t>(size));
            parser.Parse(contentType, input);
        } else {
            auto input = std::make_unique<LargeBodyChunks>();
            size = LargeBodyChunks::Size();
            parser.Parse("multipart/form-data; boundary=b", *input);
        }
        fields = parser.Fields().Count();
        files = parser.Files().Count();
        for (const FormField& field : parser.Fields()) values += field.values.Count();
        const long peak = StatusKiB("VmHWM:");
        std::printf("%s: body %zu bytes (%.1f MiB), %u fields, %u values, %u files\n", which.c_str(), size,
                    static_cast<double>(size) / (1 << 20), fields, values, files);
        std::printf("resident before the parse %.1f MiB, peak during it %.1f MiB: %.1f MiB above the array (if any), "
                    "%.2f times the body\n",
                    before / 1024.0, peak / 1024.0, (peak * 1024.0 - static_cast<double>(array != nullptr ? size : 0)) / (1 << 20),
                    peak * 1024.0 / static_cast<double>(size));
    }
    std::free(array);
    return 0;
}
