// ProcessPostData end to end, as a page host drives it: the body is parsed
// from the host's byte array, and Form and Files are rebuilt. Each sample is
// a new upload object, started on a page whose host serves the body;
// ProcessPostData is timed alone, and the last Release (which deletes the
// temporary files) separately. Prints the median of the samples, and the
// process's peak private memory (commit) and peak working set per body byte:
// run one body per process for those figures to be its own, e.g.
//   build/windows/wine-run build/windows/bench/windows/upload_bench.exe 3 "tiny pairs"
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "com/ComHolders.h"
#include "hosts/testhost/TestHost.h"
#include "upload/UploadFactory.h"
#include "uploadLib.h"
#include "bench/UrlEncodedBodies.h"

using namespace qor;

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// One 16 MiB file part of every byte value, and a text field.
std::string OneLargeFile() {
    std::string data(16u << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131u) >> 3);
    return "--BenchBoundary\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n"
           "--BenchBoundary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big.bin\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           data + "\r\n--BenchBoundary--\r\n";
}

// 2,000 file parts of 4 KiB each: one temporary file and one Files entry each.
std::string ManySmallFiles() {
    std::string body;
    const std::string data(4096, 'x');
    for (int i = 0; i < 2000; ++i) {
        body += "--BenchBoundary\r\nContent-Disposition: form-data; name=\"f\"; filename=\"file" + std::to_string(i) +
                ".txt\"\r\n\r\n" + data + "\r\n";
    }
    return body + "--BenchBoundary--\r\n";
}

// How a body is read: whole (the default), in chunks of ReadChunkBytes, or
// with a progress ID (and so in 64 KiB chunks), to show what publishing costs.
enum class Intake { Whole, Chunks64KiB, Progress };

bool Run(const char* name, const wchar_t* contentType, const std::string& body, LONG expectedForm,
         LONG expectedFiles, int samples, Intake intake) {
    testhost::TestHost host;
    host.SetContentType(contentType);
    host.SetBody(body);
    if (intake != Intake::Whole) host.SetReadShape(testhost::ReadShape::Stream);
    std::vector<double> process, release;
    for (int s = 0; s < samples; ++s) {
        ComPtr<IQORUpload> upload;
        if (FAILED(CreateUploadObject(nullptr, IID_IQORUpload, upload.put_void()))) return false;
        if (FAILED(upload->OnStartPage(host.NewScriptingContext().get()))) return false;
        host.SetBody(body);  // a stream's reads start again at the beginning
        ComPtr<IQORUpload3> third;
        if (FAILED(upload->QueryInterface(IID_IQORUpload3, third.put_void()))) return false;
        if (intake == Intake::Chunks64KiB) third->put_ReadChunkBytes(65536);
        if (intake == Intake::Progress) {
            UniqueBstr id(SysAllocString(L"upload-bench-progress-0001"));
            if (FAILED(third->put_ProgressId(id.get()))) return false;
        }
        third.reset();
        LARGE_INTEGER t0, t1, t2, t3;
        QueryPerformanceCounter(&t0);
        const HRESULT hr = upload->ProcessPostData();
        QueryPerformanceCounter(&t1);
        ComPtr<IQORVariantDictionary> form, files;
        LONG formCount = -1, fileCount = -1;
        upload->get_Form(form.put());
        upload->get_Files(files.put());
        form->get_Count(&formCount);
        files->get_Count(&fileCount);
        form.reset();
        files.reset();
        if (FAILED(hr) || formCount != expectedForm || fileCount != expectedFiles) {
            std::printf("%s: failed (0x%08lX, %ld fields, %ld files)\n", name, static_cast<unsigned long>(hr),
                        formCount, fileCount);
            return false;
        }
        upload->OnEndPage();
        QueryPerformanceCounter(&t2);
        upload.reset();
        QueryPerformanceCounter(&t3);
        process.push_back(Seconds(t0, t1));
        release.push_back(Seconds(t2, t3));
    }
    const double seconds = Median(process);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("%-22s %9zu bytes  ProcessPostData %8.2f ms  %8.1f MB/s  last Release %7.2f ms  "
                "peak private %.1f MiB (%.1f per body byte), peak working set %.1f MiB (%.1f per body byte)\n",
                name, body.size(), seconds * 1e3, static_cast<double>(body.size()) / seconds / 1e6,
                Median(release) * 1e3, static_cast<double>(memory.PeakPagefileUsage) / (1 << 20),
                static_cast<double>(memory.PeakPagefileUsage) / static_cast<double>(body.size()),
                static_cast<double>(memory.PeakWorkingSetSize) / (1 << 20),
                static_cast<double>(memory.PeakWorkingSetSize) / static_cast<double>(body.size()));
    return true;
}

}  // namespace

// Arguments: samples per body (default 7), then optionally the one body to run.
int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string only = argc > 2 ? argv[2] : "";
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const wchar_t* urlEncoded = L"application/x-www-form-urlencoded";
    const wchar_t* multipart = L"multipart/form-data; boundary=BenchBoundary";
    struct Body {
        const char* name;
        const wchar_t* contentType;
        std::string (*make)();
        LONG form, files;
        Intake intake = Intake::Whole;
    };
    const Body bodies[] = {
        {"escaped pairs", urlEncoded, EscapedBody, 16, 0},
        {"distinct names", urlEncoded, ShortDistinctNamesBody, 50000, 0},
        {"one 16 MiB file", multipart, OneLargeFile, 2, 1},
        {"16 MiB in 64 KiB", multipart, OneLargeFile, 2, 1, Intake::Chunks64KiB},
        {"16 MiB with progress", multipart, OneLargeFile, 2, 1, Intake::Progress},
        {"2000 files of 4 KiB", multipart, ManySmallFiles, 1, 2000},
        {"tiny pairs", urlEncoded, TinyPairsBody, 1, 0},
    };
    bool ok = true;
    for (const Body& body : bodies)
        if (ok && (only.empty() || only == body.name))
            ok = Run(body.name, body.contentType, body.make(), body.form, body.files, samples, body.intake);
    CoUninitialize();
    return ok ? 0 : 1;
}
