#include "server/RegistryScripts.h"

#include <objbase.h>

#include "uploadLib.h"

namespace qor {

namespace {
constexpr wchar_t kClassName[] = L"Tandervale.QORUpload Class";
constexpr wchar_t kProgId[] = L"Tandervale.QORUpload.2";
constexpr wchar_t kVersionIndependentProgId[] = L"Tandervale.QORUpload";
constexpr wchar_t kProgressClassName[] = L"Tandervale.QORUploadProgress Class";
constexpr wchar_t kProgressProgId[] = L"Tandervale.QORUploadProgress.1";
constexpr wchar_t kVersionIndependentProgressProgId[] = L"Tandervale.QORUploadProgress";
using Lifetime = RegistryKey::Lifetime;

// The ProgID with its version, and the one without that names it as current.
std::vector<RegistryKey> ProgIdKeys(const std::wstring& clsid, const wchar_t* name, const wchar_t* progId,
                                    const wchar_t* versionIndependent) {
    return {
        {progId, Lifetime::Normal, {{L"", name}}, {{L"CLSID", Lifetime::Normal, {{L"", clsid}}, {}}}},
        {versionIndependent, Lifetime::Normal, {{L"", name}},
         {
             {L"CLSID", Lifetime::Normal, {{L"", clsid}}, {}},
             {L"CurVer", Lifetime::Normal, {{L"", progId}}, {}},
         }},
    };
}

// HKCR\CLSID\{clsid} of one class of this module.
RegistryKey ClassKey(const std::wstring& clsid, const wchar_t* name, const wchar_t* progId,
                     const wchar_t* versionIndependent, const std::wstring& modulePath) {
    return {clsid, Lifetime::ForceRemove, {{L"", name}, {L"AppID", kAppIdText}},
            {
                {L"ProgID", Lifetime::Normal, {{L"", progId}}, {}},
                {L"VersionIndependentProgID", Lifetime::Normal, {{L"", versionIndependent}}, {}},
                {L"Programmable", Lifetime::ForceRemove, {}, {}},
                {L"InprocServer32", Lifetime::Normal, {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}}, {}},
                {L"TypeLib", Lifetime::Normal, {{L"", GuidText(LIBID_uploadLib)}}, {}},
            }};
}

}  // namespace

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::vector<RegistryKey> SharedScript() {
    std::vector<RegistryKey> script = {
        {L"AppID", Lifetime::NoRemove, {},
         {
             {kAppIdText, Lifetime::Normal, {{L"", L"QORUpload"}}, {}},
             {L"qorupload.DLL", Lifetime::Normal, {{L"AppID", kAppIdText}}, {}},
         }},
    };
    auto upload = ProgIdKeys(GuidText(CLSID_CQORUpload), kClassName, kProgId, kVersionIndependentProgId);
    auto progress = ProgIdKeys(GuidText(CLSID_CQORUploadProgress), kProgressClassName, kProgressProgId,
                               kVersionIndependentProgressProgId);
    for (auto* keys : {&upload, &progress})
        for (RegistryKey& key : *keys) script.push_back(std::move(key));
    return script;
}

std::vector<RegistryKey> ClassScript(const std::wstring& modulePath) {
    return {
        {L"CLSID", Lifetime::NoRemove, {},
         {
             ClassKey(GuidText(CLSID_CQORUpload), kClassName, kProgId, kVersionIndependentProgId, modulePath),
             ClassKey(GuidText(CLSID_CQORUploadProgress), kProgressClassName, kProgressProgId,
                      kVersionIndependentProgressProgId, modulePath),
         }},
    };
}

}  // namespace qor
