#pragma once
// The component's two registry scripts, both written below HKEY_CLASSES_ROOT.
// On 64-bit Windows HKCR\CLSID has a 32-bit and a 64-bit view, and each build
// writes its class into its own; the application identifier and the ProgIDs
// are one set of keys that both builds share.
#include <string>
#include <vector>

#include "server/RegistryScript.h"

namespace qor {

// The application identifier, in braces. The class, interface and library
// identifiers live in uploadLib.idl.
inline constexpr wchar_t kAppIdText[] = L"{967F032F-6203-49E8-9847-6920FB65351E}";

std::wstring GuidText(const GUID& guid);

// The application identifier and the ProgIDs: the same for both builds.
std::vector<RegistryKey> SharedScript();
// The class key, in the registering build's own view; modulePath is written
// to InprocServer32 exactly as given.
std::vector<RegistryKey> ClassScript(const std::wstring& modulePath);

}  // namespace qor
