#pragma once
#include <windows.h>
#include <oleauto.h>

// The target system that this build's type library carries and is registered
// under: each architecture's DLL registers its own.
constexpr SYSKIND kBuildSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
