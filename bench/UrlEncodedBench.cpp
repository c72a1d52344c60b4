// URL-encoded parsing from the body's bytes to the parser's fields: the body
// is put into a ByteBuffer (mode 1, 1024-byte buffers, as the upload object
// does; the bulk put makes the same writes to storage as PutByte per byte),
// parsed, and the parser with its fields is destroyed, all inside the timing.
#include <benchmark/benchmark.h>

#include <string>

#include "ByteBuffer.h"
#include "PostDataParser.h"
#include "HeapState.h"
#include "UrlEncodedBodies.h"

namespace {

void ParseBody(benchmark::State& state, const std::string& body, uint32_t expectedFields) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    for (auto _ : state) {
        ByteBuffer buffer(ByteStream::kSynchronised, 1024);
        buffer.PutBytes(bytes, static_cast<uint32_t>(body.size()));
        PostDataParser parser;
        parser.contentType.Assign("application/x-www-form-urlencoded");
        parser.Parse(buffer);
        if (parser.fields.Count() != expectedFields) state.SkipWithError("wrong field count");
        benchmark::DoNotOptimize(parser.fields.Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
    state.counters["body_bytes"] = static_cast<double>(body.size());
}

void BM_UrlEncodedEscaped(benchmark::State& state) {
    static const std::string body = EscapedBody();
    ParseBody(state, body, 16);
}

void BM_UrlEncodedDistinctNames(benchmark::State& state) {
    static const std::string body = DistinctNamesBody();
    ParseBody(state, body, 50000);
}

void BM_UrlEncodedShortDistinctNames(benchmark::State& state) {
    static const std::string body = ShortDistinctNamesBody();
    ParseBody(state, body, 50000);
}

// The same parse with the body put in byte by byte, as the upload object's
// copy loop does.
void BM_UrlEncodedDistinctNamesBytewiseFill(benchmark::State& state) {
    static const std::string body = DistinctNamesBody();
    for (auto _ : state) {
        ByteBuffer buffer(ByteStream::kSynchronised, 1024);
        for (char c : body) buffer.PutByte(static_cast<unsigned char>(c));
        PostDataParser parser;
        parser.contentType.Assign("application/x-www-form-urlencoded");
        parser.Parse(buffer);
        benchmark::DoNotOptimize(parser.fields.Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

}  // namespace

BENCHMARK(BM_UrlEncodedEscaped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodedDistinctNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodedShortDistinctNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodedDistinctNamesBytewiseFill)->Unit(benchmark::kMillisecond);

QOR_BENCHMARK_MAIN();
