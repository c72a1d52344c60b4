#include "hosts/pagehost/Text.h"

#include <climits>

namespace pagehost {

std::wstring Widen(std::string_view bytes, UINT codePage) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, bytes.data(), size, out.data(), length);
    return out;
}

std::string Narrow(std::wstring_view text, UINT codePage) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(codePage, 0, text.data(), size, out.data(), length, nullptr, nullptr);
    return out;
}

}  // namespace pagehost
