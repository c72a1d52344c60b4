#include "DumpArguments.h"

#include <optional>

const char kDumpUsage[] =
    "usage: qorupload-dump --content-type TEXT --body FILE [--content-type TEXT --body FILE ...]\n"
    "Hands each request in turn to one Tandervale.QORUpload object, as a page host\n"
    "does (OnStartPage, ProcessPostData, OnEndPage), and prints as JSON what a page\n"
    "script then sees in Form and Files. A failing call ends the sequence.\n"
    "Exit status: 0 every call succeeded, 1 a call failed, 2 bad usage.\n";

namespace {

// The pair being collected.
struct Pending {
    std::optional<std::wstring> contentType, bodyPath;
    bool Empty() const { return !contentType && !bodyPath; }
};

}  // namespace

DumpArguments ParseDumpArguments(const std::vector<std::wstring>& args) {
    DumpArguments parsed;
    Pending pending;
    auto fail = [&parsed](std::wstring message) {
        parsed.requests.clear();
        parsed.error = std::move(message);
        return parsed;
    };

    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"--help" || arg == L"-h") {
            parsed.help = true;
            return parsed;
        }
        std::wstring option = arg, value;
        bool hasValue = false;
        if (const size_t equals = arg.find(L'='); arg.rfind(L"--", 0) == 0 && equals != std::wstring::npos) {
            option = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        std::optional<std::wstring>* slot = nullptr;
        if (option == L"--content-type")
            slot = &pending.contentType;
        else if (option == L"--body")
            slot = &pending.bodyPath;
        else
            return fail(L"unknown argument: " + arg);

        if (!hasValue) {
            if (i + 1 >= args.size()) return fail(option + L" needs a value");
            value = args[++i];
        }
        if (*slot) return fail(option + L" given twice for one request");
        if (option == L"--body" && value.empty()) return fail(L"--body needs a file name");
        *slot = std::move(value);
        if (pending.contentType && pending.bodyPath) {
            parsed.requests.push_back({std::move(*pending.contentType), std::move(*pending.bodyPath)});
            pending = Pending{};
        }
    }
    if (!pending.Empty())
        return fail(pending.contentType ? L"--content-type without its --body" : L"--body without its --content-type");
    if (parsed.requests.empty()) return fail(L"no request given");
    return parsed;
}
