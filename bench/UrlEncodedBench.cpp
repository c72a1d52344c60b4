// URL-encoded parsing as the upload object does it: the host's array (fresh
// memory holding the body) is built before the clock runs, and the timed part
// parses straight from it, through a reader over its memory, up to the built
// fields. Destroying the parser and the array is not timed.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/ByteBuffer.h"
#include "parse/PostDataParser.h"
#include "bench/HeapState.h"
#include "support/MemoryInput.h"
#include "bench/UrlEncodedBodies.h"

using namespace qor;

namespace {

void ParseBody(benchmark::State& state, const std::string& body, uint32_t expectedFields) {
    for (auto _ : state) {
        state.PauseTiming();
        auto* array = static_cast<unsigned char*>(std::malloc(body.size()));
        std::memcpy(array, body.data(), body.size());
        auto* parser = new PostDataParser;
        state.ResumeTiming();
        {
            MemoryInput input(array, static_cast<uint32_t>(body.size()));
            parser->Parse("application/x-www-form-urlencoded", input);
        }
        state.PauseTiming();
        if (parser->Fields().Count() != expectedFields) state.SkipWithError("wrong field count");
        delete parser;
        std::free(array);
        state.ResumeTiming();
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
        parser.Parse("application/x-www-form-urlencoded", buffer);
        benchmark::DoNotOptimize(parser.Fields().Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

}  // namespace

BENCHMARK(BM_UrlEncodedEscaped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodedDistinctNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodedShortDistinctNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UrlEncodedDistinctNamesBytewiseFill)->Unit(benchmark::kMillisecond);

QOR_BENCHMARK_MAIN();
