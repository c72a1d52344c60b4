#pragma once
// The calling thread's ANSI code page and the two conversions between it and
// UTF-16. Output buffers are sized by asking the conversion for the length it
// needs, so multi-byte code pages (UTF-8 among them) never truncate.
#include <windows.h>

#include <string>
#include <string_view>

namespace qor {

// The code page identifier to hand to the conversions for "the calling
// thread's ANSI code page". How it is found is chosen once per process.
UINT ThreadAnsiCodePage() noexcept;

// The default ANSI code page of a locale, read as a decimal number; the
// system's ANSI code page when the locale names none (or 0).
UINT LocaleAnsiCodePage(LCID locale) noexcept;

// 8-bit text in codePage to UTF-16, no conversion flags. Empty text gives
// empty output. S_OK, E_OUTOFMEMORY, or the conversion's own failure.
HRESULT WideFromAnsi(UINT codePage, std::string_view text, std::wstring& out) noexcept;

// UTF-16 to 8-bit text in codePage, no conversion flags: characters without a
// mapping become the code page's default character.
HRESULT AnsiFromWide(UINT codePage, std::wstring_view text, std::string& out) noexcept;

}  // namespace qor
