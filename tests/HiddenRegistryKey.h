#pragma once
// Registry keys that a Windows test needs out of the way for a while. The
// prefix is shared with the other architecture's tests, whose registration of
// the class and the type library may stand in the other view of the registry,
// and Wine falls back to that view where a class's key (its ProgID, say) or
// this platform's entry of a type library is missing from a process's own.
#include <windows.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace qor::test {

// The other architecture's view of HKEY_CLASSES_ROOT\CLSID and \Interface.
inline constexpr REGSAM kOtherRegistryView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
// The other architecture's entry below a type library's TypeLib\{libid}\2.0\0.
inline const wchar_t* const kOtherPlatform = sizeof(void*) == 8 ? L"win32" : L"win64";

// A key and everything below it, kept so that it can be put back.
struct SavedRegistryKey {
    bool existed = false;
    std::vector<std::tuple<std::wstring, DWORD, std::vector<BYTE>>> values;
    std::vector<std::pair<std::wstring, SavedRegistryKey>> subkeys;

    static SavedRegistryKey Of(HKEY parent, const std::wstring& path, REGSAM view) {
        SavedRegistryKey saved;
        HKEY key;
        if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return saved;
        saved.existed = true;
        std::vector<wchar_t> name(16384);
        std::vector<BYTE> data(65536);
        for (DWORD i = 0;; ++i) {
            DWORD length = static_cast<DWORD>(name.size()), type = 0, bytes = static_cast<DWORD>(data.size());
            if (RegEnumValueW(key, i, name.data(), &length, nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) break;
            saved.values.emplace_back(std::wstring(name.data(), length), type,
                                      std::vector<BYTE>(data.begin(), data.begin() + bytes));
        }
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            const std::wstring subkey(name.data(), length);
            saved.subkeys.emplace_back(subkey, Of(key, subkey, view));
        }
        RegCloseKey(key);
        return saved;
    }
    void WriteTo(HKEY parent, const std::wstring& path, REGSAM view) const {
        HKEY key;
        if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return;
        for (const auto& [name, type, data] : values)
            RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type, data.data(),
                           static_cast<DWORD>(data.size()));
        for (const auto& [name, subkey] : subkeys) subkey.WriteTo(key, name, view);
        RegCloseKey(key);
    }
};

// Deletes HKCR\path (in one view) and everything below it.
inline void DeleteRegistryTree(const std::wstring& path, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, path.c_str(), view, 0);
}

// Takes HKCR\path (in one view) out of the registry while it lives, and puts
// back what was there.
class HiddenRegistryKey {
public:
    HiddenRegistryKey(std::wstring path, REGSAM view)
        : path_(std::move(path)), view_(view), saved_(SavedRegistryKey::Of(HKEY_CLASSES_ROOT, path_, view_)) {
        DeleteRegistryTree(path_, view_);
    }
    ~HiddenRegistryKey() {
        DeleteRegistryTree(path_, view_);
        if (saved_.existed) saved_.WriteTo(HKEY_CLASSES_ROOT, path_, view_);
    }
    HiddenRegistryKey(const HiddenRegistryKey&) = delete;
    HiddenRegistryKey& operator=(const HiddenRegistryKey&) = delete;

private:
    std::wstring path_;
    REGSAM view_;
    SavedRegistryKey saved_;
};

}  // namespace qor::test
