#pragma once
// Text with bytes above 127 and its UTF-16 form in the code pages the tests
// run under (CTest starts the program once per locale).
#include <windows.h>

#include <cstdlib>
#include <string_view>

struct CodePageSample {
    UINT codePage;
    std::string_view ansi;
    std::wstring_view wide;
};

inline constexpr CodePageSample kCodePageSamples[] = {
    {1252, "Caf\xE9 \x80 \xC0\xFF", L"Caf\u00E9 \u20AC \u00C0\u00FF"},
    {1251, "Caf\xE9 \x80 \xC0\xFF", L"Caf\u0439 \u0402 \u0410\u044F"},
    {932, "Caf\x82\xA0 \x8A\xBF \xB1", L"Caf\u3042 \u6F22 \uFF71"},
};

inline const LCID kRussian = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT);

// The code page the test run was started for (QOR_EXPECTED_ACP), else the
// process's own.
inline UINT ExpectedAnsiCodePage() {
    char digits[16] = {};
    if (GetEnvironmentVariableA("QOR_EXPECTED_ACP", digits, sizeof digits) > 0)
        return static_cast<UINT>(std::strtoul(digits, nullptr, 10));
    return GetACP();
}

inline const CodePageSample* SampleFor(UINT codePage) {
    for (const CodePageSample& sample : kCodePageSamples)
        if (sample.codePage == codePage) return &sample;
    return nullptr;
}
