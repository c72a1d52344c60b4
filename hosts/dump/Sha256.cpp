#include "Sha256.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

HRESULT FromStatus(NTSTATUS status) {
    return status >= 0 ? S_OK : HRESULT_FROM_NT(status);
}

// One hash computation; the provider and hash handles close with it.
class Hasher {
public:
    Hasher() = default;
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    ~Hasher() {
        if (hash_) BCryptDestroyHash(hash_);
        if (provider_) BCryptCloseAlgorithmProvider(provider_, 0);
    }

    HRESULT Open() {
        HRESULT hr = FromStatus(BCryptOpenAlgorithmProvider(&provider_, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
        if (FAILED(hr)) return hr;
        return FromStatus(BCryptCreateHash(provider_, &hash_, nullptr, 0, nullptr, 0, 0));
    }
    HRESULT Add(const void* data, size_t length) {
        return FromStatus(BCryptHashData(hash_, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(length), 0));
    }
    HRESULT Finish(std::string& hex) {
        UCHAR digest[32];
        HRESULT hr = FromStatus(BCryptFinishHash(hash_, digest, sizeof digest, 0));
        if (FAILED(hr)) return hr;
        static const char kDigits[] = "0123456789abcdef";
        hex.clear();
        for (UCHAR b : digest) {
            hex += kDigits[b >> 4];
            hex += kDigits[b & 15];
        }
        return S_OK;
    }

private:
    BCRYPT_ALG_HANDLE provider_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

HRESULT Sha256Hex(std::string_view bytes, std::string& hex) noexcept {
    try {
        Hasher hasher;
        HRESULT hr = hasher.Open();
        if (FAILED(hr)) return hr;
        // Fed in slices: one call takes at most a ULONG of bytes.
        for (size_t at = 0; at < bytes.size(); at += 1u << 30)
            if (FAILED(hr = hasher.Add(bytes.data() + at, std::min<size_t>(bytes.size() - at, 1u << 30)))) return hr;
        return hasher.Finish(hex);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Sha256HexOfFile(const std::wstring& path, std::string& hex) noexcept {
    try {
        std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"rb"), fclose);
        if (!file) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        Hasher hasher;
        HRESULT hr = hasher.Open();
        if (FAILED(hr)) return hr;
        auto block = std::make_unique<char[]>(65536);
        size_t got = 0;
        while ((got = fread(block.get(), 1, 65536, file.get())) > 0)
            if (FAILED(hr = hasher.Add(block.get(), got))) return hr;
        if (ferror(file.get())) return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
        return hasher.Finish(hex);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
