// qorupload-dump: acts as the page host for one or more requests and prints,
// as JSON, what a page script sees of them in Form and Files.
#include "hosts/dump/DumpArguments.h"
#include "hosts/dump/DumpReport.h"
#include "hosts/dump/Json.h"
#include "hosts/dump/UploadDriver.h"

#include "com/ComHolders.h"
#include "hosts/HostFiles.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace qor;

namespace {

enum ExitCode { kSucceeded = 0, kCallFailed = 1, kBadUsage = 2 };

// Messages on stderr are UTF-8, like the JSON.
std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), needed, nullptr, nullptr);
    return bytes;
}

int Run(const std::vector<DumpSetting>& settings, const std::vector<RequestData>& requests) {
    ApartmentMembership apartment;
    if (const HRESULT hr = EnterApartment(COINIT_APARTMENTTHREADED, apartment); FAILED(hr)) {
        std::fprintf(stderr, "qorupload-dump: COM initialisation failed (%s)\n", ResultCodeText(hr).c_str());
        return kCallFailed;
    }

    DumpReport report;
    bool succeeded = false;
    {
        CLSID clsid{};
        ComPtr<IDispatch> upload;
        HRESULT hr = CLSIDFromProgID(L"Tandervale.QORUpload", &clsid);
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, upload.put_void());
        if (FAILED(hr)) {
            std::fprintf(stderr, "qorupload-dump: cannot create Tandervale.QORUpload (%s); is qorupload.dll registered?\n",
                         ResultCodeText(hr).c_str());
            report.result = hr;
        } else {
            succeeded = ApplySettings(upload.get(), settings, report) && RunRequests(upload.get(), requests, report);
            // Read while the component lives: its temporary files go with it.
            CallFailure failure;
            if (FAILED(ReadResults(upload.get(), report, failure))) {
                std::fprintf(stderr, "qorupload-dump: reading the results failed (%s): %s\n",
                             ResultCodeText(failure.code).c_str(), Utf8(failure.description).c_str());
                succeeded = false;
            }
        }
    }
    const std::string json = ToJson(report) + "\n";
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fflush(stdout);
    return succeeded ? kSucceeded : kCallFailed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes and a bare LF, as written
    try {
        const DumpArguments args = ParseDumpArguments(std::vector<std::wstring>(argv + 1, argv + argc));
        if (args.help) {
            std::fputs(kDumpUsage, stdout);
            return kSucceeded;
        }
        if (!args.error.empty()) {
            std::fprintf(stderr, "qorupload-dump: %s\n%s", Utf8(args.error).c_str(), kDumpUsage);
            return kBadUsage;
        }
        std::vector<RequestData> requests;
        for (const DumpRequest& request : args.requests) {
            RequestData data{request.contentType, {}};
            if (FAILED(ReadWholeFile(request.bodyPath, data.body))) {
                std::fprintf(stderr, "qorupload-dump: cannot read the body file %s\n", Utf8(request.bodyPath).c_str());
                return kBadUsage;
            }
            requests.push_back(std::move(data));
        }
        return Run(args.settings, requests);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qorupload-dump: %s\n", e.what());
        return kCallFailed;
    }
}
