#pragma once
// Which state of the heap the benchmarks run in.
//
// glibc hands freed memory back to the kernel once the free top of its heap
// passes a threshold, so a benchmark iteration that frees everything it
// allocated makes the next one touch fresh pages again. On the VMs we measure
// on, a first touch costs about 10 µs per 4 KiB page (BM_TouchFreshMemory in
// multipart_bench shows the rate), which swamps the parser's own work. A
// server process that has handled requests keeps its heap, so by default the
// benchmarks measure that steady state: freed memory stays in the process.
// --cold-heap keeps glibc's defaults and shows the first-touch cost as well.
#include <benchmark/benchmark.h>

#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

inline void ChooseHeapState(int& argc, char** argv) {
    bool cold = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cold-heap") == 0)
            cold = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
#if defined(__GLIBC__)
    if (!cold) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
    }
    benchmark::AddCustomContext("heap", cold ? "cold: glibc defaults, freed memory goes back to the kernel"
                                             : "warm: freed memory stays in the process (--cold-heap for defaults)");
#else
    benchmark::AddCustomContext("heap", "the C library's defaults");
#endif
}

// BENCHMARK_MAIN with the heap state chosen first.
#define QOR_BENCHMARK_MAIN()                                          \
    int main(int argc, char** argv) {                                 \
        ChooseHeapState(argc, argv);                                  \
        benchmark::Initialize(&argc, argv);                           \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1; \
        benchmark::RunSpecifiedBenchmarks();                          \
        benchmark::Shutdown();                                        \
        return 0;                                                     \
    }
