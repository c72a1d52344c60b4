#pragma once
// JSON text in UTF-8 from the UTF-16 strings that automation hands out.
// Every text can be written; only running out of memory throws.
#include <windows.h>

#include <string>
#include <string_view>

// Appends text as a quoted JSON string. Quotes, backslashes and control
// characters are escaped; every other character is written as UTF-8. A lone
// surrogate, which UTF-8 cannot carry, is written as its \u escape.
void AppendJsonString(std::string& out, std::wstring_view text);

// A result code as 0x followed by eight upper-case hex digits.
std::string ResultCodeText(HRESULT code);
