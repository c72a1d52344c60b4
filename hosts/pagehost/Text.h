#pragma once
// Conversions between the bytes of HTTP and the UTF-16 of scripts. Text that
// cannot be converted comes back empty; only running out of memory throws.
#include <windows.h>

#include <string>
#include <string_view>

namespace pagehost {

std::wstring Widen(std::string_view bytes, UINT codePage = CP_ACP);
std::string Narrow(std::wstring_view text, UINT codePage = CP_ACP);

}  // namespace pagehost
