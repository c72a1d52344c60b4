#include "hosts/dump/DumpArguments.h"

#include <algorithm>
#include <cstdint>
#include <optional>

const char kDumpUsage[] =
    "usage: qorupload-dump [SETTING N ...] --content-type TEXT --body FILE [--content-type TEXT --body FILE ...]\n"
    "Hands each request in turn to one Tandervale.QORUpload object, as a page host\n"
    "does (OnStartPage, ProcessPostData, OnEndPage), and prints as JSON what a page\n"
    "script then sees in Form and Files. A failing call ends the sequence.\n"
    "Settings, put by name on the object before the first request (a decimal N;\n"
    "one not given keeps the component's default):\n"
    "  --code-page N         CodePage (0 = ANSI, 65001 = UTF-8)\n"
    "  --max-total-bytes N   MaxTotalBytes (0 = no limit)\n"
    "  --max-file-bytes N    MaxFileBytes (0 = no limit)\n"
    "  --max-files N         MaxFiles (0 = no limit)\n"
    "  --max-parts N         MaxParts (0 = no limit)\n"
    "  --read-chunk-bytes N  ReadChunkBytes (0 = the body in one read)\n"
    "Every option also takes the form --option=VALUE.\n"
    "Exit status: 0 every call succeeded, 1 a call failed, 2 bad usage.\n";

namespace {

// Each setting option and the property it puts.
constexpr struct {
    const wchar_t* option;
    const wchar_t* property;
} kSettings[] = {
    {L"--code-page", L"CodePage"},       {L"--max-total-bytes", L"MaxTotalBytes"},
    {L"--max-file-bytes", L"MaxFileBytes"}, {L"--max-files", L"MaxFiles"},
    {L"--max-parts", L"MaxParts"},       {L"--read-chunk-bytes", L"ReadChunkBytes"},
};

const wchar_t* SettingProperty(const std::wstring& option) {
    for (const auto& setting : kSettings)
        if (option == setting.option) return setting.property;
    return nullptr;
}

// A decimal number with an optional minus sign that fits a LONG: the
// component, not the command line, decides which values it takes.
std::optional<LONG> DecimalLong(const std::wstring& text) {
    const bool negative = !text.empty() && text[0] == L'-';
    const size_t start = negative ? 1 : 0;
    if (text.size() == start) return std::nullopt;
    int64_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
        value = value * 10 + (text[i] - L'0');
        if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<LONG>(value);
}

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
        parsed.settings.clear();
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
        const wchar_t* property = SettingProperty(option);
        std::optional<std::wstring>* slot = nullptr;
        if (option == L"--content-type")
            slot = &pending.contentType;
        else if (option == L"--body")
            slot = &pending.bodyPath;
        else if (!property)
            return fail(L"unknown argument: " + arg);

        if (!hasValue) {
            if (i + 1 >= args.size()) return fail(option + L" needs a value");
            value = args[++i];
        }
        if (property) {
            const std::optional<LONG> number = DecimalLong(value);
            if (!number) return fail(option + L" needs a decimal number, not \"" + value + L"\"");
            const auto given = [&](const DumpSetting& s) { return s.property == property; };
            if (std::any_of(parsed.settings.begin(), parsed.settings.end(), given))
                return fail(option + L" given twice");
            parsed.settings.push_back({property, *number});
            continue;
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
