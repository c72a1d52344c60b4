#pragma once
// Whole files read into memory, as the hosts take request bodies and pages.
// A file that cannot be opened or read gives the platform's code for it;
// only running out of memory throws.
#include "com/ComHolders.h"

#include <windows.h>

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
