#include "hosts/dump/Sha256.h"

#include "com/ComHolders.h"
#include "com/Failure.h"
#include "support/UniqueAny.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace qor;

namespace {

HRESULT FromStatus(NTSTATUS status) {
    return status >= 0 ? S_OK : HRESULT_FROM_NT(status);
}

void CloseAlgorithm(BCRYPT_ALG_HANDLE provider) noexcept { BCryptCloseAlgorithmProvider(provider, 0); }
using UniqueAlgorithm = UniqueAny<BCRYPT_ALG_HANDLE, &CloseAlgorithm>;
using UniqueHash = UniqueAny<BCRYPT_HASH_HANDLE, &BCryptDestroyHash>;

// One hash computation; the provider and hash handles close with it.
class Hasher {
public:
    HRESULT Open() {
        RETURN_IF_FAILED(FromStatus(BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)));
        return FromStatus(BCryptCreateHash(provider_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0));
    }
    HRESULT Add(const void* data, size_t length) {
        return FromStatus(BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(length), 0));
    }
    HRESULT Finish(std::string& hex) {
        UCHAR digest[32];
        RETURN_IF_FAILED(FromStatus(BCryptFinishHash(hash_.get(), digest, sizeof digest, 0)));
        static const char kDigits[] = "0123456789abcdef";
        hex.clear();
        for (UCHAR b : digest) {
            hex += kDigits[b >> 4];
            hex += kDigits[b & 15];
        }
        return S_OK;
    }

private:
    UniqueAlgorithm provider_;
    UniqueHash hash_;
};

}  // namespace

HRESULT Sha256Hex(std::string_view bytes, std::string& hex) noexcept {
    return qor::CallBoundary([&] {
        Hasher hasher;
        RETURN_IF_FAILED(hasher.Open());
        // Fed in slices: one call takes at most a ULONG of bytes.
        for (size_t at = 0; at < bytes.size(); at += 1u << 30)
            RETURN_IF_FAILED(hasher.Add(bytes.data() + at, std::min<size_t>(bytes.size() - at, 1u << 30)));
        return hasher.Finish(hex);
    });
}

HRESULT Sha256HexOfFile(const std::wstring& path, std::string& hex) noexcept {
    return qor::CallBoundary([&] {
        UniqueFile file(_wfopen(path.c_str(), L"rb"));
        if (!file) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        Hasher hasher;
        RETURN_IF_FAILED(hasher.Open());
        auto block = std::make_unique<char[]>(65536);
        size_t got = 0;
        while ((got = fread(block.get(), 1, 65536, file.get())) > 0) RETURN_IF_FAILED(hasher.Add(block.get(), got));
        if (ferror(file.get())) return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
        return hasher.Finish(hex);
    });
}
