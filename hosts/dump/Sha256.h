#pragma once
// SHA-256 through the system's cryptography provider (bcrypt.dll), as
// lower-case hex. A failure comes back as the provider's result code (or
// the C runtime's, for a file); nothing throws.
#include <windows.h>

#include <string>
#include <string_view>

HRESULT Sha256Hex(std::string_view bytes, std::string& hex) noexcept;
// Reads the file with the C runtime, in blocks.
HRESULT Sha256HexOfFile(const std::wstring& path, std::string& hex) noexcept;
