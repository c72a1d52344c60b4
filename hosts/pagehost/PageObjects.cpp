#include "PageObjects.h"

#include "Text.h"

#include <algorithm>
#include <cstring>

namespace pagehost {

namespace {

constexpr WORD kGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;

bool IsPut(WORD flags) { return (flags & kPut) != 0; }

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// A 1-based position, when the key is a number rather than a name.
bool AsPosition(const VARIANT* key, LONG& position) {
    switch (key->vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_INT: case VT_UINT: case VT_R4: case VT_R8: case VT_DECIMAL: {
        UniqueVariant number;
        if (FAILED(VariantChangeType(number.get(), const_cast<VARIANT*>(key), 0, VT_I4))) return false;
        position = number->lVal;
        return true;
    }
    default:
        return false;
    }
}

const VARIANT* Deref(const VARIANT* v) {
    while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
    return v;
}

void PutInt(VARIANT* result, LONG value) {
    result->vt = VT_I4;
    result->lVal = value;
}

template <typename T>
HRESULT Absent(T** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

}  // namespace

HRESULT ArgText(const VARIANT* arg, std::wstring& out) {
    arg = Deref(arg);
    out.clear();
    if (arg->vt == VT_EMPTY || arg->vt == VT_NULL) return S_OK;
    UniqueVariant text;
    const HRESULT hr = VariantChangeType(text.get(), const_cast<VARIANT*>(arg), VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) return hr;
    out.assign(text->bstrVal ? text->bstrVal : L"", SysStringLen(text->bstrVal));
    return S_OK;
}

HRESULT ReturnText(VARIANT* result, std::wstring_view text) {
    VariantClear(result);
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!result->bstrVal) return E_OUTOFMEMORY;
    result->vt = VT_BSTR;
    return S_OK;
}

// ---------------------------------------------------------------- dictionary

RequestDictionary::RequestDictionary(std::vector<std::pair<std::wstring, std::wstring>> entries)
    : ScriptObject(IID_IRequestDictionary, L"Request object"), entries_(std::move(entries)) {}

HRESULT WINAPI RequestDictionary::get_Item(VARIANT key, VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    try {
        const VARIANT* k = Deref(&key);
        LONG position = 0;
        if (AsPosition(k, position)) {
            if (position < 1 || static_cast<size_t>(position) > entries_.size()) return S_OK;
            return ReturnText(value, entries_[static_cast<size_t>(position) - 1].second);
        }
        std::wstring name;
        const HRESULT hr = ArgText(k, name);
        if (FAILED(hr)) return hr;
        std::wstring joined;
        bool found = false;
        for (const auto& [entryName, entryValue] : entries_) {
            if (!SameName(entryName, name)) continue;
            if (found) joined += L", ";
            joined += entryValue;
            found = true;
        }
        return found ? ReturnText(value, joined) : S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT WINAPI RequestDictionary::get__NewEnum(IUnknown** enumerator) { return Absent(enumerator); }

HRESULT WINAPI RequestDictionary::get_Count(int* count) {
    if (!count) return E_POINTER;
    *count = static_cast<int>(entries_.size());
    return S_OK;
}

HRESULT WINAPI RequestDictionary::get_Key(VARIANT position, VARIANT* key) {
    if (!key) return E_POINTER;
    VariantInit(key);
    LONG index = 0;
    if (!AsPosition(Deref(&position), index)) return E_INVALIDARG;
    if (index < 1 || static_cast<size_t>(index) > entries_.size()) return S_OK;
    try {
        return ReturnText(key, entries_[static_cast<size_t>(index) - 1].first);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

const MemberName* RequestDictionary::Members(size_t& count) const {
    static const MemberName kMembers[] = {{L"Item", DISPID_VALUE}, {L"Count", 1}, {L"Key", 2}};
    count = std::size(kMembers);
    return kMembers;
}

HRESULT RequestDictionary::Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (id) {
    case DISPID_VALUE:
        if (args.Count() == 0) {  // the dictionary itself as a value
            result->vt = VT_DISPATCH;
            result->pdispVal = this;
            AddRef();
            return S_OK;
        }
        return get_Item(*args[0], result);
    case 1: {
        int count = 0;
        get_Count(&count);
        PutInt(result, count);
        return S_OK;
    }
    case 2:
        if (args.Count() != 1) return DISP_E_BADPARAMCOUNT;
        return get_Key(*args[0], result);
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

// ------------------------------------------------------------------- request

RequestObject::RequestObject(SharedPage page) : ScriptObject(IID_IRequest, L"Request object"), page_(std::move(page)) {}

std::vector<std::pair<std::wstring, std::wstring>> RequestObject::QueryPairs() const {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const auto& [name, value] : ParseQuery(page_->request.head.query)) out.emplace_back(Widen(name), Widen(value));
    return out;
}

std::vector<std::pair<std::wstring, std::wstring>> RequestObject::ServerVariables() const {
    const PageRequest& r = page_->request;
    const std::string* contentType = r.head.Header("Content-Type");
    const std::string* host = r.head.Header("Host");
    std::string serverName = host ? *host : "127.0.0.1";
    if (const size_t colon = serverName.rfind(':'); colon != std::string::npos) serverName.resize(colon);
    std::vector<std::pair<std::wstring, std::wstring>> out = {
        {L"REQUEST_METHOD", Widen(r.head.method)},
        {L"QUERY_STRING", Widen(r.head.query)},
        {L"CONTENT_TYPE", contentType ? Widen(*contentType) : std::wstring()},
        {L"CONTENT_LENGTH", std::to_wstring(r.body.size())},
        {L"SCRIPT_NAME", Widen(r.scriptName)},
        {L"PATH_INFO", Widen(r.scriptName)},
        {L"URL", Widen(r.scriptName)},
        {L"PATH_TRANSLATED", r.physicalPath},
        {L"APPL_PHYSICAL_PATH", r.siteRoot + L"\\"},
        {L"SERVER_NAME", Widen(serverName)},
        {L"SERVER_PORT", std::to_wstring(r.serverPort)},
        {L"SERVER_PROTOCOL", Widen(r.head.version)},
        {L"SERVER_SOFTWARE", L"QORUpload-PageHost/1.0"},
        {L"GATEWAY_INTERFACE", L"CGI/1.1"},
        {L"HTTPS", L"off"},
        {L"REMOTE_ADDR", Widen(r.remoteAddress)},
        {L"REMOTE_HOST", Widen(r.remoteAddress)},
    };
    std::wstring all;
    for (const auto& [name, value] : r.head.headers) {
        std::string key = "HTTP_" + name;
        for (char& c : key) c = c == '-' ? '_' : static_cast<char>((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c);
        out.emplace_back(Widen(key), Widen(value));
        all += Widen(key) + L":" + Widen(value) + L"\n";
    }
    out.emplace_back(L"ALL_HTTP", all);
    return out;
}

HRESULT WINAPI RequestObject::get_Item(BSTR, IDispatch** item) { return Absent(item); }

HRESULT WINAPI RequestObject::get_QueryString(IRequestDictionary** dict) {
    if (!dict) return E_POINTER;
    *dict = nullptr;
    try {
        *dict = new RequestDictionary(QueryPairs());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// The body belongs to whoever reads it with BinaryRead (the upload component).
HRESULT WINAPI RequestObject::get_Form(IRequestDictionary** dict) { return Absent(dict); }
HRESULT WINAPI RequestObject::get_Body(IRequestDictionary** dict) { return Absent(dict); }
HRESULT WINAPI RequestObject::get_ClientCertificate(IRequestDictionary** dict) { return Absent(dict); }
HRESULT WINAPI RequestObject::get_Cookies(IRequestDictionary** dict) { return Absent(dict); }

HRESULT WINAPI RequestObject::get_ServerVariables(IRequestDictionary** dict) {
    if (!dict) return E_POINTER;
    *dict = nullptr;
    try {
        *dict = new RequestDictionary(ServerVariables());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT WINAPI RequestObject::get_TotalBytes(LONG* total) {
    if (!total) return E_POINTER;
    *total = static_cast<LONG>(page_->request.body.size());
    return S_OK;
}

// Hands out the next `wanted` bytes of the body (fewer at its end) as a byte
// array; the body is consumed, as a network stream would be.
HRESULT RequestObject::Read(LONG wanted, VARIANT* result, LONG& delivered) {
    const std::string& body = page_->request.body;
    const size_t left = body.size() - page_->bodyRead;
    const size_t count = wanted <= 0 ? 0 : std::min(left, static_cast<size_t>(wanted));
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
    if (!array) return E_OUTOFMEMORY;
    if (count > 0) {
        void* data = nullptr;
        const HRESULT hr = SafeArrayAccessData(array, &data);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
        std::memcpy(data, body.data() + page_->bodyRead, count);
        SafeArrayUnaccessData(array);
    }
    page_->bodyRead += count;
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = array;
    delivered = static_cast<LONG>(count);
    return S_OK;
}

HRESULT WINAPI RequestObject::BinaryRead(VARIANT* count, VARIANT* result) {
    if (!count || !result) return E_POINTER;
    VariantInit(result);
    VARIANT* target = count;
    while (target->vt == (VT_BYREF | VT_VARIANT) && target->pvarVal) target = target->pvarVal;
    UniqueVariant wanted;
    HRESULT hr = VariantChangeType(wanted.get(), target, 0, VT_I4);
    if (FAILED(hr)) return hr;
    LONG delivered = 0;
    if (FAILED(hr = Read(wanted->lVal, result, delivered))) return hr;
    // Tell the caller how many bytes it got, through its variable if it passed one.
    if (target->vt == (VT_BYREF | VT_I4) && target->plVal) {
        *target->plVal = delivered;
    } else if (!(target->vt & VT_BYREF)) {
        VariantClear(target);
        PutInt(target, delivered);
    }
    return S_OK;
}

const MemberName* RequestObject::Members(size_t& count) const {
    static const MemberName kMembers[] = {
        {L"Item", DISPID_VALUE}, {L"QueryString", 1}, {L"ServerVariables", 2}, {L"TotalBytes", 3}, {L"BinaryRead", 4}};
    count = std::size(kMembers);
    return kMembers;
}

HRESULT RequestObject::Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (id) {
    case DISPID_VALUE: {  // Request("name"): the query string, then the server variables
        if (args.Count() != 1) return DISP_E_BADPARAMCOUNT;
        ComPtr<IRequestDictionary> dict;
        HRESULT hr = get_QueryString(dict.put());
        if (FAILED(hr)) return hr;
        if (FAILED(hr = dict->get_Item(*args[0], result))) return hr;
        if (result->vt != VT_EMPTY) return S_OK;
        if (FAILED(hr = get_ServerVariables(dict.put()))) return hr;
        return dict->get_Item(*args[0], result);
    }
    case 1:
    case 2: {
        ComPtr<IRequestDictionary> dict;
        const HRESULT hr = id == 1 ? get_QueryString(dict.put()) : get_ServerVariables(dict.put());
        if (FAILED(hr)) return hr;
        if (args.Count() > 0) return dict->get_Item(*args[0], result);
        result->vt = VT_DISPATCH;
        result->pdispVal = dict.detach();
        return S_OK;
    }
    case 3: {
        LONG total = 0;
        get_TotalBytes(&total);
        PutInt(result, total);
        return S_OK;
    }
    case 4: {
        if (args.Count() != 1) return DISP_E_BADPARAMCOUNT;
        const HRESULT hr = BinaryRead(args.Raw(0), result);
        if (FAILED(hr)) return Fail(hr, L"BinaryRead needs a number of bytes");
        return hr;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

// ------------------------------------------------------------------ response

ResponseObject::ResponseObject(SharedPage page) : ScriptObject(IID_IDispatch, L"Response object"), page_(std::move(page)) {}

const MemberName* ResponseObject::Members(size_t& count) const {
    static const MemberName kMembers[] = {
        {L"Write", 1},     {L"ContentType", 2}, {L"Status", 3},  {L"Redirect", 4},    {L"End", 5},
        {L"AddHeader", 6}, {L"CodePage", 7},    {L"Buffer", 8},  {L"BinaryWrite", 9}, {L"Charset", 10}};
    count = std::size(kMembers);
    return kMembers;
}

// Stops the script: the failure unwinds it, and the runner knows from the
// page's ended flag that this is no error.
HRESULT ResponseObject::End() {
    page_->ended = true;
    return Fail(kPageEnded, L"The page ended");
}

HRESULT ResponseObject::Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) {
    PageResponse& response = page_->response;
    std::wstring text;
    HRESULT hr = S_OK;
    const bool put = IsPut(flags);
    if (put && args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    switch (id) {
    case 1:  // Write
        if (put || args.Count() != 1) return DISP_E_BADPARAMCOUNT;
        if (page_->ended) return S_OK;
        if (FAILED(hr = ArgText(args[0], text))) return Fail(hr, L"Response.Write cannot show this value as text");
        response.body += Narrow(text, response.codePage);
        return S_OK;
    case 2:  // ContentType
        if (!put) return ReturnText(result, Widen(response.contentType));
        if (FAILED(hr = ArgText(args[0], text))) return hr;
        if (text.find_first_of(L"\r\n") != std::wstring::npos)
            return Fail(E_INVALIDARG, L"A content type cannot span lines");
        response.contentType = Narrow(text);
        return S_OK;
    case 3: {  // Status: "NNN Reason"
        if (!put) return ReturnText(result, Widen(response.status));
        if (FAILED(hr = ArgText(args[0], text))) return hr;
        const std::string status = Narrow(text);
        const bool valid = status.size() >= 3 && std::all_of(status.begin(), status.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }) &&
                           status[0] >= '1' && status[0] <= '5' && (status.size() == 3 || status[3] == ' ') &&
                           status.find_first_of("\r\n") == std::string::npos;
        if (!valid) return Fail(E_INVALIDARG, L"Response.Status must be a three-digit code and a reason, such as \"404 Not Found\"");
        response.status = status;
        return S_OK;
    }
    case 4: {  // Redirect
        if (put || args.Count() != 1) return DISP_E_BADPARAMCOUNT;
        if (FAILED(hr = ArgText(args[0], text))) return hr;
        const std::string location = Narrow(text);
        if (location.find_first_of("\r\n") != std::string::npos) return Fail(E_INVALIDARG, L"A redirect location cannot span lines");
        response.status = "302 Object moved";
        response.headers.emplace_back("Location", location);
        response.body = "<html><body>Object moved <a href=\"" + HtmlEscape(location) + "\">here</a>.</body></html>";
        response.contentType = "text/html";
        return End();
    }
    case 5:  // End
        return End();
    case 6: {  // AddHeader name, value
        if (put || args.Count() != 2) return DISP_E_BADPARAMCOUNT;
        std::wstring value;
        if (FAILED(hr = ArgText(args[0], text)) || FAILED(hr = ArgText(args[1], value))) return hr;
        const std::string name = Narrow(text), field = Narrow(value);
        if (name.empty() || name.find_first_of("\r\n: ") != std::string::npos ||
            field.find_first_of("\r\n") != std::string::npos)
            return Fail(E_INVALIDARG, L"A header name or value cannot span lines");
        response.headers.emplace_back(name, field);
        return S_OK;
    }
    case 7: {  // CodePage
        if (!put) {
            PutInt(result, static_cast<LONG>(response.codePage == CP_ACP ? GetACP() : response.codePage));
            return S_OK;
        }
        UniqueVariant number;
        if (FAILED(hr = VariantChangeType(number.get(), args[0], 0, VT_I4))) return hr;
        if (!IsValidCodePage(static_cast<UINT>(number->lVal))) return Fail(E_INVALIDARG, L"Unknown code page");
        response.codePage = static_cast<UINT>(number->lVal);
        return S_OK;
    }
    case 8:  // Buffer: output is always buffered
        if (!put) {
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
        }
        return S_OK;
    case 9: {  // BinaryWrite: a byte array as it stands
        if (put || args.Count() != 1) return DISP_E_BADPARAMCOUNT;
        const VARIANT* data = args[0];
        SAFEARRAY* array = data->vt == (VT_ARRAY | VT_UI1) ? data->parray
                           : data->vt == (VT_BYREF | VT_ARRAY | VT_UI1) && data->pparray ? *data->pparray
                                                                                            : nullptr;
        if (!array || SafeArrayGetDim(array) != 1) return Fail(DISP_E_TYPEMISMATCH, L"BinaryWrite needs a byte array");
        if (page_->ended) return S_OK;
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(array, 1, &lower);
        SafeArrayGetUBound(array, 1, &upper);
        void* bytes = nullptr;
        if (upper >= lower && SUCCEEDED(SafeArrayAccessData(array, &bytes))) {
            response.body.append(static_cast<const char*>(bytes), static_cast<size_t>(upper - lower + 1));
            SafeArrayUnaccessData(array);
        }
        return S_OK;
    }
    case 10:  // Charset: the host adds it to the answer's Content-Type
        if (!put) return ReturnText(result, Widen(response.charset));
        if (FAILED(hr = ArgText(args[0], text))) return hr;
        if (text.find_first_of(L"\r\n;") != std::wstring::npos)
            return Fail(E_INVALIDARG, L"A charset is one name, such as \"utf-8\"");
        response.charset = Narrow(text);
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

// --------------------------------------------------------- scripting context

ScriptingContextObject::ScriptingContextObject(ComPtr<IRequest> request)
    : ScriptObject(IID_IScriptingContext, L"ScriptingContext"), request_(std::move(request)) {}

HRESULT WINAPI ScriptingContextObject::get_Request(IRequest** request) { return request_.copy_to(request); }
HRESULT WINAPI ScriptingContextObject::get_Response(IResponse** response) { return Absent(response); }
HRESULT WINAPI ScriptingContextObject::get_Server(IServer** server) { return Absent(server); }
HRESULT WINAPI ScriptingContextObject::get_Session(ISessionObject** session) { return Absent(session); }
HRESULT WINAPI ScriptingContextObject::get_Application(IApplicationObject** application) { return Absent(application); }

const MemberName* ScriptingContextObject::Members(size_t& count) const {
    static const MemberName kMembers[] = {{L"Request", 1}};
    count = std::size(kMembers);
    return kMembers;
}

HRESULT ScriptingContextObject::Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) {
    if (id != 1 || IsPut(flags) || args.Count() != 0) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_DISPATCH;
    return request_.copy_to(reinterpret_cast<IRequest**>(&result->pdispVal));
}

// -------------------------------------------------------------------- server

ServerObject::ServerObject(SharedPage page, ComPtr<IUnknown> scriptingContext)
    : ScriptObject(IID_IDispatch, L"Server object"), page_(std::move(page)), scriptingContext_(std::move(scriptingContext)) {}

const MemberName* ServerObject::Members(size_t& count) const {
    static const MemberName kMembers[] = {
        {L"CreateObject", 1}, {L"HTMLEncode", 2}, {L"URLEncode", 3}, {L"MapPath", 4}, {L"ScriptTimeout", 5}};
    count = std::size(kMembers);
    return kMembers;
}

HRESULT ServerObject::Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) {
    if (id == 5) {  // ScriptTimeout: accepted, not enforced
        if (!IsPut(flags)) PutInt(result, 90);
        return S_OK;
    }
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    if (args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    std::wstring text;
    const HRESULT hr = ArgText(args[0], text);
    if (FAILED(hr)) return hr;
    switch (id) {
    case 1: return CreateObject(text, result);
    case 2: return ReturnText(result, HtmlEncode(text));
    case 3: return ReturnText(result, UrlEncode(text));
    case 4: return MapPath(text, result);
    default: return DISP_E_MEMBERNOTFOUND;
    }
}

namespace {

// The description a failed dispatch call carries, or a fallback.
std::wstring Describe(EXCEPINFO& info, const wchar_t* fallback) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    std::wstring text = info.bstrDescription ? info.bstrDescription : fallback;
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
    return text;
}

}  // namespace

// Creates the object, hands it the scripting context through OnStartPage
// when it has that method, and keeps it so that the page's end can call
// OnEndPage and release it.
HRESULT ServerObject::CreateObject(const std::wstring& progId, VARIANT* result) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr)) return Fail(hr, L"Server.CreateObject: invalid class string \"" + progId + L"\"");
    ComPtr<IDispatch> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch, object.put_void());
    if (FAILED(hr)) return Fail(hr, L"Server.CreateObject failed for \"" + progId + L"\"");

    CreatedObject created;
    created.object = object;
    LPOLESTR startName = const_cast<LPOLESTR>(L"OnStartPage");
    LPOLESTR endName = const_cast<LPOLESTR>(L"OnEndPage");
    DISPID onStart = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(IID_NULL, &startName, 1, LOCALE_USER_DEFAULT, &onStart))) onStart = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(IID_NULL, &endName, 1, LOCALE_USER_DEFAULT, &created.onEndPage)))
        created.onEndPage = DISPID_UNKNOWN;
    page_->created.push_back(created);

    if (onStart != DISPID_UNKNOWN) {
        VARIANT context;
        context.vt = VT_UNKNOWN;
        context.punkVal = scriptingContext_.get();
        DISPPARAMS params{&context, nullptr, 1, 0};
        EXCEPINFO info{};
        hr = object->Invoke(onStart, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &info, nullptr);
        if (hr == DISP_E_EXCEPTION) return Fail(info.scode ? info.scode : E_FAIL, Describe(info, L"OnStartPage failed"));
        if (FAILED(hr)) return Fail(hr, L"OnStartPage of \"" + progId + L"\" failed");
    }
    result->vt = VT_DISPATCH;
    result->pdispVal = object.detach();
    return S_OK;
}

HRESULT ServerObject::MapPath(const std::wstring& path, VARIANT* result) {
    const PageRequest& r = page_->request;
    std::string url = Narrow(path);
    std::replace(url.begin(), url.end(), '\\', '/');
    if (url.empty() || url.front() != '/') {
        const size_t slash = r.scriptName.rfind('/');
        url = r.scriptName.substr(0, slash + 1) + url;
    }
    const auto relative = SiteRelativePath(url);
    if (!relative) return Fail(E_INVALIDARG, L"Server.MapPath: \"" + path + L"\" is outside the site");
    std::wstring mapped = r.siteRoot;
    if (!relative->empty()) mapped += L"\\" + Widen(*relative);
    std::replace(mapped.begin(), mapped.end(), L'/', L'\\');
    return ReturnText(result, mapped);
}

std::wstring HtmlEncode(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::wstring UrlEncode(std::wstring_view text) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (unsigned char c : Narrow(text)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '*') {
            out += static_cast<wchar_t>(c);
        } else if (c == ' ') {
            out += L'+';
        } else {
            out += L'%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

void EndCreatedObjects(PageState& page) {
    for (CreatedObject& created : page.created) {
        if (created.onEndPage == DISPID_UNKNOWN) continue;
        DISPPARAMS none{};
        created.object->Invoke(created.onEndPage, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                               nullptr, nullptr);
    }
    page.created.clear();
}

}  // namespace pagehost
