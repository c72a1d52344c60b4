#include "automation/CQORProgressInfo.h"

#include <cwchar>
#include <new>

namespace qor {
namespace {

HRESULT NewString(std::u16string_view text, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(reinterpret_cast<const wchar_t*>(text.data()), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// A JSON string of text, in quotes.
void AppendJsonString(std::wstring& json, std::u16string_view text) {
    json += L'"';
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            json += L'\\';
            json += static_cast<wchar_t>(c);
        } else if (c < 0x20 || c > 0x7e || c == u'<' || c == u'>' || c == u'&' || c == u'\'') {
            wchar_t escape[8];
            swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
            json += escape;
        } else {
            json += static_cast<wchar_t>(c);
        }
    }
    json += L'"';
}

void AppendJsonNumber(std::wstring& json, const wchar_t* key, long value) {
    wchar_t text[48];
    swprintf(text, 48, L",\"%ls\":%ld", key, value);
    json += text;
}

}  // namespace

const wchar_t* ProgressStateName(ProgressState state) noexcept {
    switch (state) {
        case ProgressState::Receiving: return L"receiving";
        case ProgressState::Done: return L"done";
        case ProgressState::Failed: return L"failed";
        default: return L"unknown";
    }
}

std::wstring ProgressJson(const ProgressSnapshot& s) {
    std::wstring json = L"{\"state\":\"";
    json += ProgressStateName(s.state);
    json += L'"';
    AppendJsonNumber(json, L"bytesReceived", s.bytesReceived);
    AppendJsonNumber(json, L"totalBytes", s.totalBytes);
    AppendJsonNumber(json, L"filesStored", s.filesStored);
    AppendJsonNumber(json, L"percentComplete", s.PercentComplete());
    AppendJsonNumber(json, L"elapsedMs", s.elapsedMilliseconds);
    json += L",\"fileName\":";
    AppendJsonString(json, s.FileName());
    AppendJsonNumber(json, L"errorNumber", s.errorNumber);
    json += L",\"errorDescription\":";
    AppendJsonString(json, s.ErrorDescription());
    json += L'}';
    return json;
}

ComPtr<CQORProgressInfo> CQORProgressInfo::Create(const ProgressSnapshot& snapshot) {
    return ComPtr<CQORProgressInfo>(new CQORProgressInfo(snapshot));
}

HRESULT CQORProgressInfo::Get(int32_t value, LONG* out) noexcept {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

HRESULT CQORProgressInfo::get_State(BSTR* pVal) {
    const wchar_t* name = ProgressStateName(snapshot_.state);
    return NewString({reinterpret_cast<const char16_t*>(name), wcslen(name)}, pVal);
}

HRESULT CQORProgressInfo::get_FileName(BSTR* pVal) { return NewString(snapshot_.FileName(), pVal); }
HRESULT CQORProgressInfo::get_ErrorDescription(BSTR* pVal) { return NewString(snapshot_.ErrorDescription(), pVal); }

HRESULT CQORProgressInfo::get_Json(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    try {
        const std::wstring json = ProgressJson(snapshot_);
        *pVal = SysAllocStringLen(json.data(), static_cast<UINT>(json.size()));
    } catch (const std::bad_alloc&) {
    }
    return *pVal ? S_OK : E_OUTOFMEMORY;
}

}  // namespace qor
