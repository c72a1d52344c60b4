// qorupload-soak: drives real upload objects, created by ProgID from the
// registered component, through the page host interfaces for many rounds of
// generated bodies, and reads every result back by name as a script does.
//
//   qorupload-soak --temp DIR [--rounds N] [--seed N] [--report-every N]
//                  [--multipart-corpus DIR]... [--url-encoded-corpus DIR]...
//                  [--failures DIR]
//
// Each round posts its requests twice, to an object reading the body in one
// BinaryRead and to one reading it in chunks, with the same settings: both
// must see the same thing, and a well-formed body must give exactly what was
// posted (or a limit's code when a limit was set one below what it holds).
// After every round the module holds no lock, no host object lives and the
// temporary directory (TMP, set to DIR, where every stored file must be) is
// empty. Every N rounds (a tenth of the run by default) a line gives the
// process's committed private memory, working set, heap bytes and blocks in
// use and open handles; over the run they must stay flat. Run it with
// OANOCACHE=1, or the string cache's growth shows in the heap. Exit status 0
// when everything held, 1 otherwise, 2 on bad usage. Failing bodies are
// written to the failures directory, if given, as content type, LF, body.
#include "hosts/soak/SoakBodies.h"

#include "com/ComHolders.h"
#include "hosts/HostFiles.h"
#include "hosts/ProcessGauge.h"
#include "hosts/dump/Json.h"
#include "hosts/dump/Sha256.h"
#include "hosts/dump/UploadDriver.h"
#include "hosts/testhost/TestHost.h"
#include "uploadLib.h"

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace qor;

namespace {

constexpr HRESULT kLimitCodes[] = {QOR_E_BODY_TOO_LARGE, QOR_E_FILE_TOO_LARGE, QOR_E_TOO_MANY_FILES, QOR_E_TOO_MANY_PARTS};
constexpr const wchar_t* kLimitNames[] = {L"MaxTotalBytes", L"MaxFileBytes", L"MaxFiles", L"MaxParts"};

// Growth allowed between the first sample and the last. What the heaps hold
// must not grow beyond noise; committed memory may, as the heap keeps room
// that the largest bodies needed; handles get a little for Wine's lazily
// created ones.
constexpr double kHeapSlackMiB = 1;
constexpr double kMemorySlackMiB = 16;
constexpr DWORD kHandleSlack = 16;

struct Options {
    std::wstring temp;
    uint32_t rounds = 20000;
    uint64_t seed = 1;
    uint32_t reportEvery = 0;  // 0: a tenth of the rounds
    std::vector<std::wstring> multipartCorpora, urlEncodedCorpora;
    std::wstring failures;
};

std::string Quoted(std::wstring_view text) {
    std::string out;
    AppendJsonString(out, text);  // quoted, and safe to print whatever it holds
    return out;
}

std::wstring Widen(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    return text;
}

// What FileName gives for a path: the last segment after \, / or :, and
// nothing for . and ..
std::wstring LastSegment(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/:");
    std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
    return name == L"." || name == L".." ? std::wstring() : name;
}

// --- the corpora --------------------------------------------------------

void LoadCorpus(const std::wstring& dir, bool multipart, std::vector<soak::CorpusEntry>& corpus) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        std::string bytes;
        if (!entry.is_regular_file() || FAILED(ReadWholeFile(entry.path().wstring(), bytes))) continue;
        if (!multipart) {
            corpus.push_back({"application/x-www-form-urlencoded", std::move(bytes)});
            continue;
        }
        const size_t end = bytes.find('\n');  // a content type, a line feed, then the body
        if (end == std::string::npos) continue;
        corpus.push_back({bytes.substr(0, end), bytes.substr(end + 1)});
    }
}

// --- one round ----------------------------------------------------------

struct Settings {
    LONG codePage = 0;
    LONG limits[4] = {};  // in the order of kLimitNames
};

std::vector<DumpSetting> DumpSettings(const Settings& settings, LONG readChunkBytes) {
    std::vector<DumpSetting> out{{L"CodePage", settings.codePage}, {L"ReadChunkBytes", readChunkBytes}};
    for (size_t i = 0; i < std::size(kLimitNames); ++i)
        if (settings.limits[i] != 0) out.push_back({kLimitNames[i], settings.limits[i]});
    return out;
}

// One object's life: created by ProgID, its settings put by name, the
// requests posted as pages, and its results read while it lives.
DumpReport RunObject(const CLSID& clsid, const std::vector<DumpSetting>& settings,
                     const std::vector<RequestData>& requests) {
    DumpReport report;
    ComPtr<IDispatch> upload;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, upload.put_void());
    if (FAILED(hr)) {
        report.result = hr;
        report.error = ErrorReport{L"the object could not be created", L"soak"};
        return report;
    }
    if (ApplySettings(upload.get(), settings, report)) RunRequests(upload.get(), requests, report);
    CallFailure failure;
    if (FAILED(ReadResults(upload.get(), report, failure))) {
        report.result = failure.code;
        report.error = ErrorReport{L"reading the results failed: " + failure.description, L"soak"};
    }
    return report;
}

// The report without temporary paths, which differ from object to object.
std::string Comparable(DumpReport report) {
    for (FileReport& file : report.files) file.tmpPath.clear();
    return ToJson(report);
}

// What a script must see of a well-formed case that succeeded.
DumpReport ExpectedReport(const soak::Expected& expected, UINT codePage, const std::wstring& formText) {
    DumpReport report;
    report.formText = formText;  // its layout is not the soak's business
    for (const auto& [name, values] : expected.form) {
        FieldReport field{Widen(name, codePage), {}};
        for (const std::string& value : values) field.values.push_back(Widen(value, codePage));
        report.form.push_back(std::move(field));
    }
    for (const soak::ExpectedFile& file : expected.files) {
        FileReport out;
        out.field = Widen(file.field, codePage);
        out.userPath = Widen(file.userPath, codePage);
        out.fileName = LastSegment(out.userPath);
        out.contentType = Widen(file.contentType, codePage);
        out.size = static_cast<LONG>(file.bytes.size());
        std::string hex;
        if (SUCCEEDED(Sha256Hex(file.bytes, hex))) out.sha256 = hex;
        report.files.push_back(std::move(out));
    }
    return report;
}

// For a well-formed single request: one limit set at what the request holds
// (it must pass) or one below (it must fail with the limit's code).
HRESULT ProbeLimit(soak::BodyGenerator& random, const soak::SoakCase& c, Settings& settings) {
    const soak::Expected& e = *c.expected;
    LONG largestFile = 0;
    for (const auto& file : e.files) largestFile = std::max(largestFile, static_cast<LONG>(file.bytes.size()));
    const LONG held[4] = {static_cast<LONG>(c.requests[0].body.size()), largestFile,
                          static_cast<LONG>(e.files.size()), static_cast<LONG>(e.values)};
    const uint32_t which = random.Below(4);
    if (held[which] < 1) return S_OK;
    const bool below = held[which] >= 2 && random.Below(2) == 0;
    settings.limits[which] = below ? held[which] - 1 : held[which];
    return below ? kLimitCodes[which] : S_OK;
}

// Limits that may or may not be reached, for bodies without an expectation.
void RandomLimits(soak::BodyGenerator& random, Settings& settings) {
    const LONG ranges[4] = {1 << 20, 1 << 16, 4, 64};
    for (size_t i = 0; i < 4; ++i)
        if (random.Below(3) == 0) settings.limits[i] = 1 + static_cast<LONG>(random.Below(static_cast<uint32_t>(ranges[i])));
}

// A chunk size from one byte up, never so small that a large body takes
// more than about a thousand reads.
LONG ChunkSize(soak::BodyGenerator& random, size_t largestBody) {
    const uint32_t pick = random.Below(10);
    const LONG chosen = pick < 3 ? 1 + random.Below(16) : pick < 8 ? 17 + random.Below(4096) : 4096 + random.Below(65536);
    return std::max<LONG>(chosen, static_cast<LONG>(largestBody / 1000));
}

// --- what must hold between rounds ---------------------------------------

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

std::wstring FirstEntryOf(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return L"(the directory cannot be listed)";
    std::wstring entry;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") entry = name;
    } while (entry.empty() && FindNextFileW(search, &found));
    FindClose(search);
    return entry;
}

struct Sample {
    uint32_t rounds;
    double privateMiB, workingSetMiB, heapMiB;
    uint64_t heapBlocks;
    DWORD handles;
    double seconds;
};

Sample TakeSample(uint32_t rounds, std::chrono::steady_clock::time_point started) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    const hosts::HeapUse heaps = hosts::HeapsInUse();
    return {rounds,          hosts::PrivateCommittedBytes() / 1048576.0, hosts::WorkingSetBytes() / 1048576.0,
            heaps.bytes / 1048576.0, heaps.blocks, hosts::OpenHandleCount(), elapsed.count()};
}

// --- the run -------------------------------------------------------------

class Soak {
public:
    Soak(const Options& options, const CLSID& clsid, std::vector<soak::CorpusEntry> corpus)
        : options_(options), clsid_(clsid), random_(options.seed, std::move(corpus)) {}

    bool Run();

private:
    void Round(uint32_t round);
    void CheckBetweenRounds(uint32_t round, const soak::SoakCase& c);
    void Fail(uint32_t round, const soak::SoakCase& c, const std::string& what);
    bool Flat() const;

    const Options& options_;
    CLSID clsid_;
    soak::BodyGenerator random_;
    CanUnloadNow canUnloadNow_ = nullptr;
    uint32_t failures_ = 0;
    std::map<std::string, uint32_t> kinds_;
    std::map<HRESULT, uint32_t> results_;
    uint64_t bytesPosted_ = 0, filesStored_ = 0;
    std::vector<Sample> samples_;
};

bool Soak::Run() {
    const auto started = std::chrono::steady_clock::now();
    const uint32_t every = options_.reportEvery ? options_.reportEvery : std::max<uint32_t>(options_.rounds / 10, 1);
    std::printf("%8s %12s %16s %14s %12s %8s %9s\n", "rounds", "private MiB", "working set MiB", "heap MiB used",
                "heap blocks", "handles", "seconds");
    for (uint32_t round = 1; round <= options_.rounds && failures_ < 10; ++round) {
        Round(round);
        if (round % every == 0 || round == options_.rounds) {
            samples_.push_back(TakeSample(round, started));
            const Sample& s = samples_.back();
            std::printf("%8u %12.1f %16.1f %14.2f %12llu %8lu %9.1f\n", s.rounds, s.privateMiB, s.workingSetMiB,
                        s.heapMiB, static_cast<unsigned long long>(s.heapBlocks), static_cast<unsigned long>(s.handles),
                        s.seconds);
            std::fflush(stdout);
        }
    }
    std::printf("cases:");
    for (const auto& [kind, n] : kinds_) std::printf(" %s %u;", kind.c_str(), n);
    std::printf("\nresults (one-read objects):");
    for (const auto& [code, n] : results_) std::printf(" %s %u;", ResultCodeText(code).c_str(), n);
    std::printf("\n%llu bytes posted, %llu files stored, %u failures\n", static_cast<unsigned long long>(bytesPosted_),
                static_cast<unsigned long long>(filesStored_), failures_);
    return failures_ == 0 && Flat();
}

void Soak::Round(uint32_t round) {
    Settings settings;
    settings.codePage = random_.Below(3) == 0 ? 65001 : 0;
    const soak::SoakCase c = random_.Next(settings.codePage == 65001);
    ++kinds_[c.kind];
    HRESULT expectedResult = S_OK;
    if (c.expected && c.requests.size() == 1 && random_.Below(10) < 3) expectedResult = ProbeLimit(random_, c, settings);
    if (!c.expected && random_.Below(10) < 2) RandomLimits(random_, settings);

    std::vector<RequestData> requests;
    size_t largest = 0;
    for (const soak::SoakRequest& r : c.requests) {
        requests.push_back({Widen(r.contentType, CP_ACP), r.body});
        largest = std::max(largest, r.body.size());
        bytesPosted_ += r.body.size();
    }
    const LONG chunk = ChunkSize(random_, largest);
    const DumpReport whole = RunObject(clsid_, DumpSettings(settings, 0), requests);
    const DumpReport chunked = RunObject(clsid_, DumpSettings(settings, chunk), requests);
    ++results_[whole.result];
    filesStored_ += whole.files.size();

    // The files must be where the emptiness check between rounds looks.
    for (const DumpReport* report : {&whole, &chunked})
        for (const FileReport& file : report->files)
            if (_wcsnicmp(file.tmpPath.c_str(), (options_.temp + L"\\").c_str(), options_.temp.size() + 1) != 0)
                Fail(round, c, "a file was stored outside the temporary directory: " + Quoted(file.tmpPath));
    if (Comparable(whole) != Comparable(chunked))
        Fail(round, c, "read in chunks of " + std::to_string(chunk) + " it gave\n  " + Comparable(chunked) +
                           "\nread whole it gave\n  " + Comparable(whole));
    if (c.expected && whole.result != expectedResult)
        Fail(round, c, "expected " + ResultCodeText(expectedResult) + ", got " + Comparable(whole));
    if (c.expected && expectedResult == S_OK && whole.result == S_OK) {
        const UINT codePage = settings.codePage ? static_cast<UINT>(settings.codePage) : CP_ACP;
        const std::string want = Comparable(ExpectedReport(*c.expected, codePage, whole.formText));
        if (want != Comparable(whole)) Fail(round, c, "expected\n  " + want + "\ngot\n  " + Comparable(whole));
    }
    CheckBetweenRounds(round, c);
}

void Soak::CheckBetweenRounds(uint32_t round, const soak::SoakCase& c) {
    if (!canUnloadNow_) {
        if (const HMODULE dll = GetModuleHandleW(L"qorupload.dll"))
            canUnloadNow_ = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
        if (!canUnloadNow_) return Fail(round, c, "qorupload.dll is not loaded, or has no DllCanUnloadNow");
    }
    if (canUnloadNow_() != S_OK) Fail(round, c, "the module still holds a lock after every object was released");
    if (const LONG live = testhost::LiveHostObjectsInProcess(); live != 0)
        Fail(round, c, std::to_string(live) + " host objects are still referenced");
    if (const std::wstring left = FirstEntryOf(options_.temp); !left.empty())
        Fail(round, c, "the temporary directory still holds " + Quoted(left));
}

void Soak::Fail(uint32_t round, const soak::SoakCase& c, const std::string& what) {
    ++failures_;
    std::fprintf(stderr, "round %u (%s, seed %llu): %s\n", round, c.kind, static_cast<unsigned long long>(options_.seed),
                 what.c_str());
    if (options_.failures.empty()) return;
    CreateDirectoryW(options_.failures.c_str(), nullptr);
    for (size_t i = 0; i < c.requests.size(); ++i) {
        const std::wstring path = options_.failures + L"\\round-" + std::to_wstring(round) + L"-" + std::to_wstring(i);
        if (UniqueFile file{_wfopen(path.c_str(), L"wb")}) {
            // The fuzzers' input form: the content type, a line feed, the body.
            std::fwrite(c.requests[i].contentType.data(), 1, c.requests[i].contentType.size(), file.get());
            std::fputc('\n', file.get());
            std::fwrite(c.requests[i].body.data(), 1, c.requests[i].body.size(), file.get());
        }
    }
}

// Memory and handles after the first sample (the warm-up) grow no more than
// the slack allows.
bool Soak::Flat() const {
    if (samples_.size() < 2) return true;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    bool flat = true;
    if (last.privateMiB > first.privateMiB + kMemorySlackMiB) {
        std::fprintf(stderr, "private memory grew from %.1f to %.1f MiB\n", first.privateMiB, last.privateMiB);
        flat = false;
    }
    if (last.heapMiB > first.heapMiB + kHeapSlackMiB) {
        std::fprintf(stderr, "the heaps' bytes in use grew from %.2f to %.2f MiB\n", first.heapMiB, last.heapMiB);
        flat = false;
    }
    if (last.handles > first.handles + kHandleSlack) {
        std::fprintf(stderr, "the handle count grew from %lu to %lu\n", static_cast<unsigned long>(first.handles),
                     static_cast<unsigned long>(last.handles));
        flat = false;
    }
    return flat;
}

// --- the command line -----------------------------------------------------

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i], value = argv[i + 1];
        wchar_t* end = nullptr;
        const unsigned long long number = std::wcstoull(value.c_str(), &end, 10);
        const bool numeric = !value.empty() && *end == 0 && number <= 0xFFFFFFFFull;
        if (name == L"--temp") options.temp = value;
        else if (name == L"--failures") options.failures = value;
        else if (name == L"--multipart-corpus") options.multipartCorpora.push_back(value);
        else if (name == L"--url-encoded-corpus") options.urlEncodedCorpora.push_back(value);
        else if (name == L"--rounds" && numeric) options.rounds = static_cast<uint32_t>(number);
        else if (name == L"--seed" && numeric) options.seed = number;
        else if (name == L"--report-every" && numeric) options.reportEvery = static_cast<uint32_t>(number);
        else return false;
    }
    return argc % 2 == 1 && !options.temp.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: qorupload-soak --temp DIR [--rounds N] [--seed N] [--report-every N]\n"
                             "         [--multipart-corpus DIR]... [--url-encoded-corpus DIR]... [--failures DIR]\n");
        return 2;
    }
    try {
        CreateDirectoryW(options.temp.c_str(), nullptr);
        options.temp = FullPath(options.temp);
        SetTemporaryDirectory(options.temp);
        std::vector<soak::CorpusEntry> corpus;
        for (const std::wstring& dir : options.multipartCorpora) LoadCorpus(dir, true, corpus);
        for (const std::wstring& dir : options.urlEncodedCorpora) LoadCorpus(dir, false, corpus);
        std::printf("%zu fuzz inputs to mutate, %u rounds, seed %llu\n", corpus.size(), options.rounds,
                    static_cast<unsigned long long>(options.seed));
        if (!GetEnvironmentVariableW(L"OANOCACHE", nullptr, 0))
            std::printf("OANOCACHE is not set: the string cache keeps freed strings, and the memory figures include it\n");

        ApartmentMembership apartment;
        CLSID clsid{};
        HRESULT hr = EnterApartment(COINIT_APARTMENTTHREADED, apartment);
        if (SUCCEEDED(hr)) hr = CLSIDFromProgID(L"Tandervale.QORUpload", &clsid);
        if (FAILED(hr)) {
            std::fprintf(stderr, "qorupload-soak: Tandervale.QORUpload is not usable (%s); is it registered?\n",
                         ResultCodeText(hr).c_str());
            return 1;
        }
        Soak soak(options, clsid, std::move(corpus));
        return soak.Run() ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qorupload-soak: %s\n", e.what());
        return 1;
    }
}
