// Multipart parsing as the upload object does it, against baselines that
// copy the same body from memory to one temporary file in 8 KiB and in 1 MiB
// writes, and, for the many-files body, each part's data to a file of its own.
//
// Each Parse iteration first builds the host's array: fresh memory holding
// the body, as a host fills it from the request before the component sees it
// (not timed). The timed part is the parse straight from that array, through
// a reader over its memory, up to closed temporary files and built lists.
// Destroying the parser (which deletes the files) and the array is not timed.
// The Buffered benchmarks show the earlier path for comparison: the body
// copied into a ByteBuffer first, inside the timing. The Chunked benchmarks
// read the array through ChunkedInput in 64 KiB chunks, as ReadChunkBytes =
// 65536 has the upload object read it. Run:
// build/native/bench/multipart_bench (TMPDIR picks the directory; --cold-heap
// for glibc's default heap).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/ByteBuffer.h"
#include "support/ByteString.h"
#include "support/ChunkedInput.h"
#include "support/FileHandles.h"
#include "bench/HeapState.h"
#include "support/MemoryInput.h"
#include "parse/PostDataParser.h"
#include "support/RuntimeFiles.h"
#include "support/XFile.h"

using namespace qor;

namespace {

const std::string kBoundary = "----WebKitFormBoundary7MA4YWxkTrZu0gW";
const std::string kDelimiter = "--" + kBoundary;
const std::string kContentType = "multipart/form-data; boundary=" + kBoundary;

std::string RandomBytes(size_t count, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string data(count, '\0');
    for (size_t i = 0; i + 8 <= count; i += 8) {
        const uint64_t word = random();
        for (int b = 0; b < 8; ++b) data[i + b] = static_cast<char>(word >> (8 * b));
    }
    return data;
}

std::string FilePart(const std::string& name, const std::string& data) {
    return kDelimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + name +
           ".bin\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n";
}

const std::string& LargeFileBody() {
    static const std::string body = FilePart("large", RandomBytes(256u << 20, 1)) + kDelimiter + "--\r\n";
    return body;
}

const std::string& ManyFilesBody() {
    static const std::string body = [] {
        std::string b;
        for (int i = 0; i < 200; ++i) b += FilePart("file" + std::to_string(i), RandomBytes(256u << 10, 100 + i));
        return b + kDelimiter + "--\r\n";
    }();
    return body;
}

// CR LF "--" and every prefix of the delimiter, each followed by a byte that
// breaks the match, so the parser holds back and releases bytes all along.
const std::string& NearMissBody() {
    static const std::string body = [] {
        std::string data;
        data.reserve((64u << 20) + 64);
        for (size_t k = 0; data.size() < (64u << 20); k = (k + 1) % kDelimiter.size()) {
            data += "\r\n";
            data.append(kDelimiter, 0, k);
            data += (k % 3 == 0) ? "x" : (k % 3 == 1) ? "\r" : "-";
        }
        return FilePart("nearmiss", data) + kDelimiter + "--\r\n";
    }();
    return body;
}

const std::string& TextFieldsBody() {
    static const std::string body = [] {
        std::string b;
        for (int i = 0; i < 10000; ++i)
            b += kDelimiter + "\r\nContent-Disposition: form-data; name=\"field" + std::to_string(i) +
                 "\"\r\n\r\nvalue number " + std::to_string(i) + "\r\n";
        return b + kDelimiter + "--\r\n";
    }();
    return body;
}

// The host's array: fresh memory holding a copy of the body.
unsigned char* HostArray(const std::string& body) {
    auto* array = static_cast<unsigned char*>(std::malloc(body.size()));
    if (array != nullptr) std::memcpy(array, body.data(), body.size());
    return array;
}

// The host's array handed out in chunks of a fixed size, as successive
// BinaryRead answers.
class ArrayChunks final : public ChunkedInput {
public:
    static constexpr uint32_t kChunk = 65536;
    ArrayChunks(const unsigned char* array, uint32_t size) : ChunkedInput(size, kChunk), array_(array) {}

protected:
    uint32_t ReadChunk(uint32_t count, const unsigned char*& bytes) override {
        bytes = array_ + given_;
        given_ += count;
        return count;
    }
    void EndedEarly(uint32_t, uint32_t) override { std::abort(); }

private:
    const unsigned char* array_;
    uint32_t given_ = 0;
};

// The host's filled array (made outside the timing) parsed to closed
// temporary files through Input, constructed on the array and its size.
template <typename Input>
void ParseThrough(benchmark::State& state, const std::string& body, size_t expectedFiles) {
    for (auto _ : state) {
        state.PauseTiming();
        unsigned char* array = HostArray(body);
        auto* parser = new PostDataParser;
        state.ResumeTiming();
        {
            Input input(array, static_cast<uint32_t>(body.size()));
            parser->Parse(kContentType.c_str(), input);
        }
        state.PauseTiming();
        if (parser->Files().Count() != expectedFiles) state.SkipWithError("unexpected number of files");
        delete parser;  // deletes the temporary files
        std::free(array);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

// In place from the array, as the upload object reads a whole body.
void Parse(benchmark::State& state, const std::string& body, size_t expectedFiles) {
    ParseThrough<MemoryInput>(state, body, expectedFiles);
}
// In 64 KiB chunks, as ReadChunkBytes = 65536 reads it.
void ParseChunked(benchmark::State& state, const std::string& body, size_t expectedFiles) {
    ParseThrough<ArrayChunks>(state, body, expectedFiles);
}

// The earlier path: the body copied into a ByteBuffer (mode 1, 1024-byte
// buffers), then parsed from it, both timed.
void ParseBuffered(benchmark::State& state, const std::string& body, size_t expectedFiles) {
    for (auto _ : state) {
        state.PauseTiming();
        unsigned char* array = HostArray(body);
        auto* parser = new PostDataParser;
        state.ResumeTiming();
        auto* buffer = new ByteBuffer(ByteStream::kSynchronised, 1024);
        buffer->PutBytes(array, static_cast<uint32_t>(body.size()));
        parser->Parse(kContentType.c_str(), *buffer);
        state.PauseTiming();
        if (parser->Files().Count() != expectedFiles) state.SkipWithError("unexpected number of files");
        delete buffer;
        delete parser;
        std::free(array);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

// For comparison: the fill alone, and first touching as much new memory as
// the body takes, which every fill pays when the allocator has given its
// pages back since the last body.
void FillOnly(benchmark::State& state, const std::string& body) {
    for (auto _ : state) {
        auto* buffer = new ByteBuffer(ByteStream::kSynchronised, 1024);
        buffer->PutBytes(reinterpret_cast<const unsigned char*>(body.data()), static_cast<uint32_t>(body.size()));
        buffer->Flush();
        state.PauseTiming();
        delete buffer;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

void TouchFreshMemory(benchmark::State& state, size_t size) {
    for (auto _ : state) {
        auto* memory = static_cast<volatile unsigned char*>(std::malloc(size));
        for (size_t at = 0; at < size; at += 4096) memory[at] = 1;
        state.PauseTiming();
        std::free(const_cast<unsigned char*>(memory));
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

// data into a new temporary file (its name in path), created as the parser
// creates its files, writeSize bytes per write.
void WriteToNewFile(benchmark::State& state, const std::string& data, ByteString& path, size_t writeSize) {
    const int fd = CreateTemporaryFileHandle(path);
    for (size_t at = 0; at < data.size(); at += writeSize) {
        const unsigned count = static_cast<unsigned>(std::min<size_t>(writeSize, data.size() - at));
        if (rt::Write(fd, data.data() + at, count) != static_cast<int>(count)) state.SkipWithError("write failed");
    }
    CloseFileHandle(fd);
}

constexpr size_t k8KiB = 8192, k64KiB = 65536, k1MiB = 1u << 20;

// The same body into one new temporary file, writeSize bytes per write.
void CopyBaseline(benchmark::State& state, const std::string& body, size_t writeSize) {
    for (auto _ : state) {
        ByteString path;
        WriteToNewFile(state, body, path, writeSize);
        state.PauseTiming();
        rt::Unlink(path.Text());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

// The floor for the many-files body: each part's data into a new temporary
// file of its own, writeSize bytes per write, as the parser must store them;
// each file is closed in the timing and deleted outside it, as the parser's
// are. What this costs beyond the one-file baseline is the file system's, per
// file.
void CopyBaselineSeparateFiles(benchmark::State& state, size_t writeSize) {
    static const std::vector<std::string> parts = [] {
        std::vector<std::string> p;
        for (int i = 0; i < 200; ++i) p.push_back(RandomBytes(256u << 10, 100 + i));
        return p;
    }();
    std::vector<ByteString> paths(parts.size());
    for (auto _ : state) {
        for (size_t i = 0; i < parts.size(); ++i) WriteToNewFile(state, parts[i], paths[i], writeSize);
        state.PauseTiming();
        for (const ByteString& path : paths) rt::Unlink(path.Text());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(ManyFilesBody().size()));
}

void BM_Baseline_LargeFile(benchmark::State& state) { CopyBaseline(state, LargeFileBody(), k8KiB); }
void BM_Baseline1MiB_LargeFile(benchmark::State& state) { CopyBaseline(state, LargeFileBody(), k1MiB); }
void BM_Baseline64KiB_LargeFile(benchmark::State& state) { CopyBaseline(state, LargeFileBody(), k64KiB); }
void BM_Parse_LargeFile(benchmark::State& state) { Parse(state, LargeFileBody(), 1); }
void BM_ParseChunked_LargeFile(benchmark::State& state) { ParseChunked(state, LargeFileBody(), 1); }
void BM_Baseline_ManyFiles(benchmark::State& state) { CopyBaseline(state, ManyFilesBody(), k8KiB); }
void BM_Parse_ManyFiles(benchmark::State& state) { Parse(state, ManyFilesBody(), 200); }
void BM_ParseChunked_ManyFiles(benchmark::State& state) { ParseChunked(state, ManyFilesBody(), 200); }
void BM_Baseline_ManyFilesSeparate(benchmark::State& state) { CopyBaselineSeparateFiles(state, k8KiB); }
void BM_Baseline1MiB_ManyFilesSeparate(benchmark::State& state) { CopyBaselineSeparateFiles(state, k1MiB); }
void BM_Baseline_NearMiss(benchmark::State& state) { CopyBaseline(state, NearMissBody(), k8KiB); }
void BM_Baseline1MiB_NearMiss(benchmark::State& state) { CopyBaseline(state, NearMissBody(), k1MiB); }
void BM_Parse_NearMiss(benchmark::State& state) { Parse(state, NearMissBody(), 1); }
void BM_ParseChunked_NearMiss(benchmark::State& state) { ParseChunked(state, NearMissBody(), 1); }
void BM_Parse_TextFields(benchmark::State& state) { Parse(state, TextFieldsBody(), 0); }
void BM_ParseChunked_TextFields(benchmark::State& state) { ParseChunked(state, TextFieldsBody(), 0); }
void BM_Fill_LargeFile(benchmark::State& state) { FillOnly(state, LargeFileBody()); }
void BM_Fill_TextFields(benchmark::State& state) { FillOnly(state, TextFieldsBody()); }
void BM_TouchFreshMemory_LargeFile(benchmark::State& state) { TouchFreshMemory(state, LargeFileBody().size()); }
void BM_ParseBuffered_LargeFile(benchmark::State& state) { ParseBuffered(state, LargeFileBody(), 1); }
void BM_ParseBuffered_ManyFiles(benchmark::State& state) { ParseBuffered(state, ManyFilesBody(), 200); }
void BM_ParseBuffered_TextFields(benchmark::State& state) { ParseBuffered(state, TextFieldsBody(), 0); }

// Baselines and parses alternate so that both see the same state of the disk
// cache; real time, because the writes happen in the kernel.
BENCHMARK(BM_Baseline_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Baseline1MiB_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Baseline64KiB_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Parse_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ParseChunked_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Baseline_ManyFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Parse_ManyFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ParseChunked_ManyFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Baseline_ManyFilesSeparate)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Baseline1MiB_ManyFilesSeparate)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Baseline_NearMiss)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Baseline1MiB_NearMiss)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Parse_NearMiss)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ParseChunked_NearMiss)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Parse_TextFields)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ParseChunked_TextFields)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ParseBuffered_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ParseBuffered_ManyFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ParseBuffered_TextFields)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Fill_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Fill_TextFields)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_TouchFreshMemory_LargeFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

QOR_BENCHMARK_MAIN();
