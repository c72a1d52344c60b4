#pragma once
// The component's two registry scripts: the application identifier and the
// class with its ProgIDs. Both are written below HKEY_CLASSES_ROOT.
#include <string>
#include <vector>

#include "server/RegistryScript.h"

namespace qor {

// The application identifier, in braces. The class, interface and library
// identifiers live in uploadLib.idl.
inline constexpr wchar_t kAppIdText[] = L"{967F032F-6203-49E8-9847-6920FB65351E}";

std::wstring GuidText(const GUID& guid);

std::vector<RegistryKey> AppIdScript();
// modulePath is written to InprocServer32 exactly as given.
std::vector<RegistryKey> ClassScript(const std::wstring& modulePath);

}  // namespace qor
