#pragma once
// Whole files read into memory, as the hosts take request bodies and pages,
// and the paths and temporary directory the hosts set up. A file that cannot
// be opened or read gives the platform's code for it; only running out of
// memory throws.
#include "com/ComHolders.h"

#include <windows.h>

#include <cstdlib>
#include <iterator>
#include <string>

inline HRESULT ReadWholeFile(const std::wstring& path, std::string& bytes) {
    qor::UniqueFile file(_wfopen(path.c_str(), L"rb"));
    if (!file) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    bytes.clear();
    char block[65536];
    size_t got = 0;
    while ((got = fread(block, 1, sizeof block, file.get())) > 0) bytes.append(block, got);
    return ferror(file.get()) ? HRESULT_FROM_WIN32(ERROR_READ_FAULT) : S_OK;
}

// The full path, without trailing separators (a drive's root keeps its own);
// the path as given when it cannot be resolved.
inline std::wstring FullPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(buffer)), buffer, nullptr);
    std::wstring full = (n > 0 && n < std::size(buffer)) ? std::wstring(buffer, n) : path;
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return full;
}

// Points TMP and TEMP at the directory for this process, where components
// put their temporary files: in the environment and in the C runtime's own
// copy of it, which is the one _tempnam reads.
inline void SetTemporaryDirectory(const std::wstring& directory) {
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        SetEnvironmentVariableW(name, directory.c_str());
        _wputenv((std::wstring(name) + L"=" + directory).c_str());
    }
}
