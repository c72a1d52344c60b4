#pragma once
// What qorupload-dump prints: the outcome of the last call and what a script
// would see in Form and Files. Writing it fails only for lack of memory, by
// throwing.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct FieldReport {
    std::wstring name;
    std::vector<std::wstring> values;
};

struct FileReport {
    std::wstring field;
    std::wstring userPath;
    std::wstring fileName;
    std::wstring contentType;
    std::wstring tmpPath;
    LONG size = 0;
    std::optional<std::string> sha256;  // none when the file could not be read
};

struct ErrorReport {
    std::wstring description;
    std::wstring source;
};

struct DumpReport {
    HRESULT result = S_OK;
    std::optional<ErrorReport> error;
    std::vector<FieldReport> form;
    std::wstring formText;
    std::vector<FileReport> files;
};

// One line of JSON with the keys result, error, form, formText, files.
std::string ToJson(const DumpReport& report);
