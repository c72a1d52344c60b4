// Registers and unregisters qorupload.dll through its exports many times in
// one process and reports every failure: the round, the step, the HRESULT and
// which of the component's registry entries were there right afterwards.
// Not part of the test run: scripts/registration-loop drives it, alone and
// as several processes at once.
//
//   registration_loop DLL ROUNDS [cycle|register|create]
//
// cycle (default): register, create the object by ProgID, load the registered
//   type library, unregister, check that the class is gone.
// register: register and create only, never unregister (for concurrent runs).
// create: only create the object by ProgID and load the type library.
// Exit status 0 when every round succeeded, 1 otherwise, 2 on bad usage.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "com/ComHolders.h"
#include "uploadLib.h"

using namespace qor;

namespace {

using PlainFn = HRESULT(STDAPICALLTYPE*)();

std::wstring Braced(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

bool KeyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The entries that were present, as one short line: tells which inner step of
// a failed registration did or did not get done.
std::string RegistrySnapshot() {
    const std::wstring clsid = Braced(CLSID_CQORUpload);
    const std::pair<const char*, std::wstring> entries[] = {
        {"appid", L"AppID\\qorupload.DLL"},
        {"progid", L"Tandervale.QORUpload.2\\CLSID"},
        {"viprogid", L"Tandervale.QORUpload\\CurVer"},
        {"class", L"CLSID\\" + clsid},
        {"server", L"CLSID\\" + clsid + L"\\InprocServer32"},
        {"typelib", L"TypeLib\\" + Braced(LIBID_uploadLib) + L"\\2.0"},
        {"interface", L"Interface\\" + Braced(IID_IQORUpload)},
    };
    std::string present = "present:", missing = "missing:";
    for (const auto& [name, path] : entries) (KeyExists(path) ? present : missing) += std::string(" ") + name;
    return present + "; " + missing;
}

// Creates the component by ProgID and loads its registered type library, as
// a script host does before its first call by name.
std::pair<const char*, HRESULT> CreateByProgId() {
    CLSID clsid;
    if (HRESULT hr = CLSIDFromProgID(L"Tandervale.QORUpload", &clsid); FAILED(hr)) return {"progid", hr};
    ComPtr<IDispatch> object;
    if (HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.put_void()); FAILED(hr))
        return {"create", hr};
    ComPtr<ITypeLib> library;
    if (HRESULT hr = LoadRegTypeLib(LIBID_uploadLib, 2, 0, 0, library.put()); FAILED(hr)) return {"typelib", hr};
    return {nullptr, S_OK};
}

class Loop {
public:
    Loop(PlainFn registerServer, PlainFn unregisterServer) : register_(registerServer), unregister_(unregisterServer) {}

    // One round of the given mode; false when a step failed (and was recorded).
    bool Round(int round, const std::string& mode) {
        if (mode != "create") {
            if (HRESULT hr = register_(); FAILED(hr)) return Fail(round, "register", hr);
        }
        if (auto [step, hr] = CreateByProgId(); step) return Fail(round, step, hr);
        if (mode != "cycle") return true;
        if (HRESULT hr = unregister_(); FAILED(hr)) return Fail(round, "unregister", hr);
        if (KeyExists(L"CLSID\\" + Braced(CLSID_CQORUpload))) return Fail(round, "removed", S_FALSE);
        return true;
    }

    void Summary(int rounds, int succeeded, const std::string& mode) const {
        for (const auto& [key, count] : counts_)
            std::printf("registration loop: %d failure(s) at step %s with 0x%08lX\n", count, key.first.c_str(),
                        static_cast<unsigned long>(key.second));
        std::printf("registration loop (%s, %d-bit): %d of %d rounds succeeded\n", mode.c_str(),
                    static_cast<int>(sizeof(void*) * 8), succeeded, rounds);
    }

private:
    bool Fail(int round, const char* step, HRESULT hr) {
        ++counts_[{step, hr}];
        std::printf("round %d: %s failed with 0x%08lX (%s)\n", round, step, static_cast<unsigned long>(hr),
                    RegistrySnapshot().c_str());
        std::fflush(stdout);
        return false;
    }

    PlainFn register_, unregister_;
    std::map<std::pair<std::string, HRESULT>, int> counts_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 3 ? argv[3] : "cycle";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 0;
    if (argc < 3 || argc > 4 || rounds <= 0 || (mode != "cycle" && mode != "register" && mode != "create")) {
        std::fprintf(stderr, "usage: registration_loop DLL ROUNDS [cycle|register|create]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    HMODULE dll = LoadLibraryA(argv[1]);
    auto exported = [dll](const char* name) {
        return dll ? reinterpret_cast<PlainFn>(reinterpret_cast<void*>(GetProcAddress(dll, name))) : nullptr;
    };
    PlainFn registerServer = exported("DllRegisterServer"), unregisterServer = exported("DllUnregisterServer");
    if (!registerServer || !unregisterServer) {
        std::fprintf(stderr, "registration_loop: cannot load the registration exports of %s\n", argv[1]);
        return 2;
    }

    Loop loop(registerServer, unregisterServer);
    int succeeded = 0;
    for (int round = 1; round <= rounds; ++round) succeeded += loop.Round(round, mode) ? 1 : 0;
    loop.Summary(rounds, succeeded, mode);
    // Objects were created through the component runtime, which keeps the DLL
    // loaded until CoUninitialize; the library's own reference goes last.
    CoUninitialize();
    FreeLibrary(dll);
    return succeeded == rounds ? 0 : 1;
}
