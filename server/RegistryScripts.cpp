#include "server/RegistryScripts.h"

#include <objbase.h>

#include "uploadLib.h"

namespace qor {

namespace {
constexpr wchar_t kClassName[] = L"Tandervale.QORUpload Class";
constexpr wchar_t kProgId[] = L"Tandervale.QORUpload.2";
constexpr wchar_t kVersionIndependentProgId[] = L"Tandervale.QORUpload";
using Lifetime = RegistryKey::Lifetime;
}  // namespace

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::vector<RegistryKey> SharedScript() {
    const std::wstring clsid = GuidText(CLSID_CQORUpload);
    return {
        {L"AppID", Lifetime::NoRemove, {},
         {
             {kAppIdText, Lifetime::Normal, {{L"", L"QORUpload"}}, {}},
             {L"qorupload.DLL", Lifetime::Normal, {{L"AppID", kAppIdText}}, {}},
         }},
        {kProgId, Lifetime::Normal, {{L"", kClassName}}, {{L"CLSID", Lifetime::Normal, {{L"", clsid}}, {}}}},
        {kVersionIndependentProgId, Lifetime::Normal, {{L"", kClassName}},
         {
             {L"CLSID", Lifetime::Normal, {{L"", clsid}}, {}},
             {L"CurVer", Lifetime::Normal, {{L"", kProgId}}, {}},
         }},
    };
}

std::vector<RegistryKey> ClassScript(const std::wstring& modulePath) {
    const std::wstring clsid = GuidText(CLSID_CQORUpload);
    return {
        {L"CLSID", Lifetime::NoRemove, {},
         {
             {clsid, Lifetime::ForceRemove, {{L"", kClassName}, {L"AppID", kAppIdText}},
              {
                  {L"ProgID", Lifetime::Normal, {{L"", kProgId}}, {}},
                  {L"VersionIndependentProgID", Lifetime::Normal, {{L"", kVersionIndependentProgId}}, {}},
                  {L"Programmable", Lifetime::ForceRemove, {}, {}},
                  {L"InprocServer32", Lifetime::Normal, {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}}, {}},
                  {L"TypeLib", Lifetime::Normal, {{L"", GuidText(LIBID_uploadLib)}}, {}},
              }},
         }},
    };
}

}  // namespace qor
