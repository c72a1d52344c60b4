#include "automation/ThreadCodePage.h"

#include "com/Failure.h"

#include <atomic>
#include <climits>
#include <new>

namespace qor {

namespace {

enum CodePageWay : int { kUndecided = 0, kThreadAcp = 1, kLocaleQuery = 2 };

std::atomic<int> g_codePageWay{kUndecided};

// Windows NT above version 4 converts with the thread's code page directly
// (CP_THREAD_ACP); older systems need it read from the thread's locale.
int ChooseCodePageWay() noexcept {
    const DWORD version = GetVersion();
    const bool isNt = (version & 0x80000000u) == 0;
    const DWORD major = version & 0xFFu;
    return isNt && major > 4 ? kThreadAcp : kLocaleQuery;
}

// Win32 conversions take int lengths.
bool FitsInt(size_t length) { return length <= static_cast<size_t>(INT_MAX); }

}  // namespace

UINT ThreadAnsiCodePage() noexcept {
    int way = g_codePageWay.load(std::memory_order_acquire);
    if (way == kUndecided) {
        // Racing first callers compute the same answer; the exchange publishes it.
        way = ChooseCodePageWay();
        g_codePageWay.exchange(way, std::memory_order_acq_rel);
    }
    return way == kThreadAcp ? CP_THREAD_ACP : LocaleAnsiCodePage(GetThreadLocale());
}

UINT LocaleAnsiCodePage(LCID locale) noexcept {
    wchar_t digits[16] = {};
    UINT codePage = 0;
    if (GetLocaleInfoW(locale, LOCALE_IDEFAULTANSICODEPAGE, digits, 16) > 0) {
        for (const wchar_t* p = digits; *p >= L'0' && *p <= L'9' && codePage < 100000; ++p)
            codePage = codePage * 10 + static_cast<UINT>(*p - L'0');
    }
    return codePage ? codePage : GetACP();
}

HRESULT WideFromAnsi(UINT codePage, std::string_view text, std::wstring& out) noexcept {
    out.clear();
    if (text.empty()) return S_OK;
    if (!FitsInt(text.size())) return E_OUTOFMEMORY;
    const int inLength = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), inLength, nullptr, 0);
    if (needed <= 0) return LastErrorOr(E_FAIL);
    try {
        out.resize(static_cast<size_t>(needed));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const int written = MultiByteToWideChar(codePage, 0, text.data(), inLength, out.data(), needed);
    if (written <= 0) {
        out.clear();
        return LastErrorOr(E_FAIL);
    }
    out.resize(static_cast<size_t>(written));
    return S_OK;
}

HRESULT AnsiFromWide(UINT codePage, std::wstring_view text, std::string& out) noexcept {
    out.clear();
    if (text.empty()) return S_OK;
    if (!FitsInt(text.size())) return E_OUTOFMEMORY;
    const int inLength = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(codePage, 0, text.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return LastErrorOr(E_FAIL);
    try {
        out.resize(static_cast<size_t>(needed));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const int written = WideCharToMultiByte(codePage, 0, text.data(), inLength, out.data(), needed, nullptr, nullptr);
    if (written <= 0) {
        out.clear();
        return LastErrorOr(E_FAIL);
    }
    out.resize(static_cast<size_t>(written));
    return S_OK;
}

}  // namespace qor
