#include "hosts/pagehost/PageObjects.h"

#include "hosts/pagehost/Text.h"

#include "com/Failure.h"
#include "com/VariantRef.h"

#include <algorithm>
#include <cstring>

using namespace qor;

namespace pagehost {

namespace {

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

void PutInt(VARIANT* result, LONG value) {
    result->vt = VT_I4;
    result->lVal = value;
}

// Hands out a new dictionary of the pairs.
HRESULT NewDictionary(NameValuePairs pairs, IRequestDictionary** dict) {
    if (!dict) return E_POINTER;
    *dict = nullptr;
    return qor::CallBoundary([&] {
        *dict = new RequestDictionary(std::move(pairs));
        return S_OK;
    });
}

void ReturnObject(VARIANT* result, IDispatch* object) {
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
}

}  // namespace

HRESULT ArgText(const VARIANT* arg, std::wstring& out) {
    arg = FollowReference(arg);
    out.clear();
    if (arg->vt == VT_EMPTY || arg->vt == VT_NULL) return S_OK;
    UniqueVariant text;
    RETURN_IF_FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(arg), VARIANT_ALPHABOOL, VT_BSTR));
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

RequestDictionary::RequestDictionary(NameValuePairs entries)
    : ScriptObject(IID_IRequestDictionary, L"Request object"), entries_(std::move(entries)) {}

HRESULT WINAPI RequestDictionary::get_Item(VARIANT key, VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    return qor::CallBoundary([&] {
        const VARIANT* k = FollowReference(&key);
        LONG position = 0;
        if (AsPosition(k, position)) {
            if (position < 1 || static_cast<size_t>(position) > entries_.size()) return S_OK;
            return ReturnText(value, entries_[static_cast<size_t>(position) - 1].second);
        }
        std::wstring name;
        RETURN_IF_FAILED(ArgText(k, name));
        std::wstring joined;
        bool found = false;
        for (const auto& [entryName, entryValue] : entries_) {
            if (!SameNameIgnoringCase(entryName, name)) continue;
            if (found) joined += L", ";
            joined += entryValue;
            found = true;
        }
        return found ? ReturnText(value, joined) : S_OK;
    });
}

HRESULT WINAPI RequestDictionary::get__NewEnum(IUnknown** enumerator) { return NotImplemented(enumerator); }

HRESULT WINAPI RequestDictionary::get_Count(int* count) {
    if (!count) return E_POINTER;
    *count = static_cast<int>(entries_.size());
    return S_OK;
}

HRESULT WINAPI RequestDictionary::get_Key(VARIANT position, VARIANT* key) {
    if (!key) return E_POINTER;
    VariantInit(key);
    LONG index = 0;
    if (!AsPosition(FollowReference(&position), index)) return E_INVALIDARG;
    if (index < 1 || static_cast<size_t>(index) > entries_.size()) return S_OK;
    return qor::CallBoundary([&] { return ReturnText(key, entries_[static_cast<size_t>(index) - 1].first); });
}

std::span<const ScriptMember<RequestDictionary>> RequestDictionary::Members() {
    static const ScriptMember<RequestDictionary> kMembers[] = {
        {L"Item", DISPID_VALUE, &RequestDictionary::ScriptItem},
        {L"Count", 1, &RequestDictionary::ScriptCount},
        {L"Key", 2, &RequestDictionary::ScriptKey},
    };
    return kMembers;
}

HRESULT RequestDictionary::ScriptItem(const Invocation& call) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    if (call.args.Count() > 0) return get_Item(*call.args[0], call.result);
    // The dictionary itself as a value.
    AddRef();
    ReturnObject(call.result, this);
    return S_OK;
}

HRESULT RequestDictionary::ScriptCount(const Invocation& call) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    int count = 0;
    get_Count(&count);
    PutInt(call.result, count);
    return S_OK;
}

HRESULT RequestDictionary::ScriptKey(const Invocation& call) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    if (call.args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    return get_Key(*call.args[0], call.result);
}

// ------------------------------------------------------------------- request

RequestObject::RequestObject(SharedPage page) : ScriptObject(IID_IRequest, L"Request object"), page_(std::move(page)) {}

NameValuePairs RequestObject::QueryPairs() const {
    NameValuePairs out;
    for (const auto& [name, value] : ParseQuery(page_->request.head.query)) out.emplace_back(Widen(name), Widen(value));
    return out;
}

NameValuePairs RequestObject::ServerVariables() const {
    const PageRequest& r = page_->request;
    const std::string* contentType = r.head.Header("Content-Type");
    const std::string* host = r.head.Header("Host");
    std::string serverName = host ? *host : "127.0.0.1";
    if (const size_t colon = serverName.rfind(':'); colon != std::string::npos) serverName.resize(colon);
    NameValuePairs out = {
        {L"REQUEST_METHOD", Widen(r.head.method)},
        {L"QUERY_STRING", Widen(r.head.query)},
        {L"CONTENT_TYPE", contentType ? Widen(*contentType) : std::wstring()},
        {L"CONTENT_LENGTH", std::to_wstring(r.contentLength)},
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

HRESULT WINAPI RequestObject::get_Item(BSTR, IDispatch** item) { return NotImplemented(item); }

HRESULT WINAPI RequestObject::get_QueryString(IRequestDictionary** dict) {
    return qor::CallBoundary([&] { return NewDictionary(QueryPairs(), dict); });
}

// The body belongs to whoever reads it with BinaryRead (the upload component).
HRESULT WINAPI RequestObject::get_Form(IRequestDictionary** dict) { return NotImplemented(dict); }
HRESULT WINAPI RequestObject::get_Body(IRequestDictionary** dict) { return NotImplemented(dict); }
HRESULT WINAPI RequestObject::get_ClientCertificate(IRequestDictionary** dict) { return NotImplemented(dict); }
HRESULT WINAPI RequestObject::get_Cookies(IRequestDictionary** dict) { return NotImplemented(dict); }

HRESULT WINAPI RequestObject::get_ServerVariables(IRequestDictionary** dict) {
    return qor::CallBoundary([&] { return NewDictionary(ServerVariables(), dict); });
}

HRESULT WINAPI RequestObject::get_TotalBytes(LONG* total) {
    if (!total) return E_POINTER;
    *total = static_cast<LONG>(page_->request.contentLength);
    return S_OK;
}

// Hands out the next `wanted` bytes of the body (fewer at its end) as a byte
// array, taken from the connection as they arrive: the body is consumed, and
// the host holds no more of it than this array.
HRESULT RequestObject::Read(LONG wanted, VARIANT* result, LONG& delivered) {
    BodyStream* body = page_->body;
    if (!body) return E_UNEXPECTED;  // the page is over
    const size_t count = wanted <= 0 ? 0 : static_cast<size_t>(std::min<uint64_t>(body->Left(), static_cast<uint64_t>(wanted)));
    UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count)));
    if (!array) return E_OUTOFMEMORY;
    if (count > 0) {
        void* data = nullptr;
        ArrayDataLock lock;
        RETURN_IF_FAILED(LockArrayData(array.get(), lock, &data));
        RETURN_IF_FAILED(body->Read(static_cast<char*>(data), count));
    }
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = array.release();
    delivered = static_cast<LONG>(count);
    return S_OK;
}

HRESULT WINAPI RequestObject::BinaryRead(VARIANT* count, VARIANT* result) {
    if (!count || !result) return E_POINTER;
    VariantInit(result);
    VARIANT* target = FollowReference(count);
    UniqueVariant wanted;
    RETURN_IF_FAILED(VariantChangeType(wanted.get(), target, 0, VT_I4));
    LONG delivered = 0;
    RETURN_IF_FAILED(Read(wanted->lVal, result, delivered));
    // Tell the caller how many bytes it got, through its variable if it passed one.
    if (target->vt == (VT_BYREF | VT_I4) && target->plVal) {
        *target->plVal = delivered;
    } else if (!(target->vt & VT_BYREF)) {
        VariantClear(target);
        PutInt(target, delivered);
    }
    return S_OK;
}

std::span<const ScriptMember<RequestObject>> RequestObject::Members() {
    static const ScriptMember<RequestObject> kMembers[] = {
        {L"Item", DISPID_VALUE, &RequestObject::ScriptItem},
        {L"QueryString", 1, &RequestObject::ScriptQueryString},
        {L"ServerVariables", 2, &RequestObject::ScriptServerVariables},
        {L"TotalBytes", 3, &RequestObject::ScriptTotalBytes},
        {L"BinaryRead", 4, &RequestObject::ScriptBinaryRead},
    };
    return kMembers;
}

// Request("name"): the query string, then the server variables.
HRESULT RequestObject::ScriptItem(const Invocation& call) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    if (call.args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    ComPtr<IRequestDictionary> dict;
    RETURN_IF_FAILED(get_QueryString(dict.put()));
    RETURN_IF_FAILED(dict->get_Item(*call.args[0], call.result));
    if (call.result->vt != VT_EMPTY) return S_OK;
    RETURN_IF_FAILED(get_ServerVariables(dict.put()));
    return dict->get_Item(*call.args[0], call.result);
}

// The dictionary, or with an argument its item.
HRESULT RequestObject::DictionaryMember(const Invocation& call, HRESULT (WINAPI RequestObject::*get)(IRequestDictionary**)) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    ComPtr<IRequestDictionary> dict;
    RETURN_IF_FAILED((this->*get)(dict.put()));
    if (call.args.Count() > 0) return dict->get_Item(*call.args[0], call.result);
    ReturnObject(call.result, dict.detach());
    return S_OK;
}

HRESULT RequestObject::ScriptQueryString(const Invocation& call) {
    return DictionaryMember(call, &RequestObject::get_QueryString);
}

HRESULT RequestObject::ScriptServerVariables(const Invocation& call) {
    return DictionaryMember(call, &RequestObject::get_ServerVariables);
}

HRESULT RequestObject::ScriptTotalBytes(const Invocation& call) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    LONG total = 0;
    get_TotalBytes(&total);
    PutInt(call.result, total);
    return S_OK;
}

HRESULT RequestObject::ScriptBinaryRead(const Invocation& call) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    if (call.args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    const HRESULT hr = BinaryRead(call.args.Raw(0), call.result);
    if (hr == kBodyTimedOut) return Fail(hr, L"The client sent no more of the request body within the read timeout");
    if (hr == kBodyCut) return Fail(hr, L"The connection closed before the end of the request body");
    if (hr == E_UNEXPECTED) return Fail(hr, L"BinaryRead after the end of its page");
    if (hr == E_OUTOFMEMORY) return Fail(hr, L"No memory for the bytes BinaryRead asked for");
    if (FAILED(hr)) return Fail(hr, L"BinaryRead needs a number of bytes");
    return hr;
}

// ------------------------------------------------------------------ response

ResponseObject::ResponseObject(SharedPage page) : ScriptObject(IID_IDispatch, L"Response object"), page_(std::move(page)) {}

std::span<const ScriptMember<ResponseObject>> ResponseObject::Members() {
    static const ScriptMember<ResponseObject> kMembers[] = {
        {L"Write", 1, &ResponseObject::Write},
        {L"ContentType", 2, &ResponseObject::ContentType},
        {L"Status", 3, &ResponseObject::Status},
        {L"Redirect", 4, &ResponseObject::Redirect},
        {L"End", 5, &ResponseObject::End},
        {L"AddHeader", 6, &ResponseObject::AddHeader},
        {L"CodePage", 7, &ResponseObject::CodePage},
        {L"Buffer", 8, &ResponseObject::Buffer},
        {L"BinaryWrite", 9, &ResponseObject::BinaryWrite},
        {L"Charset", 10, &ResponseObject::Charset},
    };
    return kMembers;
}

namespace {

// An assignment gives a property exactly one value.
bool BadPut(const Invocation& call) { return call.IsPut() && call.args.Count() != 1; }
// A method takes `count` arguments and no assignment.
bool BadMethodCall(const Invocation& call, UINT count) { return call.IsPut() || call.args.Count() != count; }

bool OnOneLine(std::wstring_view text) { return text.find_first_of(L"\r\n") == std::wstring_view::npos; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "NNN Reason", with a first digit from 1 to 5, checked in the bytes it is sent as.
bool IsStatusLine(std::wstring_view text) {
    const std::string status = Narrow(text);
    return status.size() >= 3 && std::all_of(status.begin(), status.begin() + 3, IsDigit) && status[0] >= '1' &&
           status[0] <= '5' && (status.size() == 3 || status[3] == ' ') && status.find_first_of("\r\n") == std::string::npos;
}

bool IsCharsetName(std::wstring_view charset) { return charset.find_first_of(L"\r\n;") == std::wstring_view::npos; }

// Header names are one token; names and values stay on one line.
bool IsHeader(const std::string& name, const std::string& value) {
    return !name.empty() && name.find_first_of("\r\n: ") == std::string::npos &&
           value.find_first_of("\r\n") == std::string::npos;
}

// The byte array a variant holds, directly or by reference; null for anything else.
SAFEARRAY* ByteArray(const VARIANT* data) {
    if (data->vt == (VT_ARRAY | VT_UI1)) return data->parray;
    if (data->vt == (VT_BYREF | VT_ARRAY | VT_UI1) && data->pparray) return *data->pparray;
    return nullptr;
}

// Appends the bytes of a one-dimensional byte array.
void AppendBytes(SAFEARRAY* array, std::string& out) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    if (upper < lower) return;
    void* bytes = nullptr;
    ArrayDataLock lock;
    if (FAILED(LockArrayData(array, lock, &bytes))) return;
    out.append(static_cast<const char*>(bytes), static_cast<size_t>(upper - lower + 1));
}

}  // namespace

// Stops the script: the failure unwinds it, and the runner knows from the
// page's ended flag that this is no error.
HRESULT ResponseObject::EndPage() {
    page_->ended = true;
    return Fail(kPageEnded, L"The page ended");
}

HRESULT ResponseObject::TextProperty(const Invocation& call, std::string& field, bool (*valid)(std::wstring_view),
                                     const wchar_t* refusal) {
    if (BadPut(call)) return DISP_E_BADPARAMCOUNT;
    if (!call.IsPut()) return ReturnText(call.result, Widen(field));
    std::wstring text;
    RETURN_IF_FAILED(ArgText(call.args[0], text));
    if (!valid(text)) return Fail(E_INVALIDARG, refusal);
    field = Narrow(text);
    return S_OK;
}

HRESULT ResponseObject::Write(const Invocation& call) {
    if (BadMethodCall(call, 1)) return DISP_E_BADPARAMCOUNT;
    if (page_->ended) return S_OK;
    std::wstring text;
    const HRESULT hr = ArgText(call.args[0], text);
    if (FAILED(hr)) return Fail(hr, L"Response.Write cannot show this value as text");
    page_->response.body += Narrow(text, page_->response.codePage);
    return S_OK;
}

HRESULT ResponseObject::ContentType(const Invocation& call) {
    return TextProperty(call, page_->response.contentType, OnOneLine, L"A content type cannot span lines");
}

HRESULT ResponseObject::Status(const Invocation& call) {
    return TextProperty(call, page_->response.status, IsStatusLine,
                        L"Response.Status must be a three-digit code and a reason, such as \"404 Not Found\"");
}

// Charset: the host adds it to the answer's Content-Type.
HRESULT ResponseObject::Charset(const Invocation& call) {
    return TextProperty(call, page_->response.charset, IsCharsetName, L"A charset is one name, such as \"utf-8\"");
}

HRESULT ResponseObject::Redirect(const Invocation& call) {
    if (BadMethodCall(call, 1)) return DISP_E_BADPARAMCOUNT;
    std::wstring text;
    RETURN_IF_FAILED(ArgText(call.args[0], text));
    const std::string location = Narrow(text);
    if (location.find_first_of("\r\n") != std::string::npos) return Fail(E_INVALIDARG, L"A redirect location cannot span lines");
    PageResponse& response = page_->response;
    response.status = "302 Object moved";
    response.headers.emplace_back("Location", location);
    response.body = "<html><body>Object moved <a href=\"" + HtmlEscape(location) + "\">here</a>.</body></html>";
    response.contentType = "text/html";
    return EndPage();
}

HRESULT ResponseObject::End(const Invocation& call) {
    if (BadPut(call)) return DISP_E_BADPARAMCOUNT;
    return EndPage();
}

HRESULT ResponseObject::AddHeader(const Invocation& call) {
    if (BadMethodCall(call, 2)) return DISP_E_BADPARAMCOUNT;
    std::wstring name, value;
    RETURN_IF_FAILED(ArgText(call.args[0], name));
    RETURN_IF_FAILED(ArgText(call.args[1], value));
    const std::string header = Narrow(name), field = Narrow(value);
    if (!IsHeader(header, field)) return Fail(E_INVALIDARG, L"A header name or value cannot span lines");
    page_->response.headers.emplace_back(header, field);
    return S_OK;
}

HRESULT ResponseObject::CodePage(const Invocation& call) {
    if (BadPut(call)) return DISP_E_BADPARAMCOUNT;
    UINT& codePage = page_->response.codePage;
    if (!call.IsPut()) {
        PutInt(call.result, static_cast<LONG>(codePage == CP_ACP ? GetACP() : codePage));
        return S_OK;
    }
    UniqueVariant number;
    RETURN_IF_FAILED(VariantChangeType(number.get(), call.args[0], 0, VT_I4));
    if (!IsValidCodePage(static_cast<UINT>(number->lVal))) return Fail(E_INVALIDARG, L"Unknown code page");
    codePage = static_cast<UINT>(number->lVal);
    return S_OK;
}

// Output is always buffered; setting Buffer changes nothing.
HRESULT ResponseObject::Buffer(const Invocation& call) {
    if (BadPut(call)) return DISP_E_BADPARAMCOUNT;
    if (!call.IsPut()) {
        call.result->vt = VT_BOOL;
        call.result->boolVal = VARIANT_TRUE;
    }
    return S_OK;
}

// A byte array goes into the body as it stands.
HRESULT ResponseObject::BinaryWrite(const Invocation& call) {
    if (BadMethodCall(call, 1)) return DISP_E_BADPARAMCOUNT;
    SAFEARRAY* array = ByteArray(call.args[0]);
    if (!array || SafeArrayGetDim(array) != 1) return Fail(DISP_E_TYPEMISMATCH, L"BinaryWrite needs a byte array");
    if (!page_->ended) AppendBytes(array, page_->response.body);
    return S_OK;
}

// --------------------------------------------------------- scripting context

ScriptingContextObject::ScriptingContextObject(ComPtr<IRequest> request)
    : ScriptObject(IID_IScriptingContext, L"ScriptingContext"), request_(std::move(request)) {}

HRESULT WINAPI ScriptingContextObject::get_Request(IRequest** request) { return request_.copy_to(request); }
HRESULT WINAPI ScriptingContextObject::get_Response(IResponse** response) { return NotImplemented(response); }
HRESULT WINAPI ScriptingContextObject::get_Server(IServer** server) { return NotImplemented(server); }
HRESULT WINAPI ScriptingContextObject::get_Session(ISessionObject** session) { return NotImplemented(session); }
HRESULT WINAPI ScriptingContextObject::get_Application(IApplicationObject** application) { return NotImplemented(application); }

std::span<const ScriptMember<ScriptingContextObject>> ScriptingContextObject::Members() {
    static const ScriptMember<ScriptingContextObject> kMembers[] = {{L"Request", 1, &ScriptingContextObject::ScriptRequest}};
    return kMembers;
}

HRESULT ScriptingContextObject::ScriptRequest(const Invocation& call) {
    if (call.IsPut() || call.args.Count() != 0) return DISP_E_MEMBERNOTFOUND;
    call.result->vt = VT_DISPATCH;
    return request_.copy_to(reinterpret_cast<IRequest**>(&call.result->pdispVal));
}

// -------------------------------------------------------------------- server

ServerObject::ServerObject(SharedPage page, ComPtr<IUnknown> scriptingContext)
    : ScriptObject(IID_IDispatch, L"Server object"), page_(std::move(page)), scriptingContext_(std::move(scriptingContext)) {}

std::span<const ScriptMember<ServerObject>> ServerObject::Members() {
    static const ScriptMember<ServerObject> kMembers[] = {
        {L"CreateObject", 1, &ServerObject::ScriptCreateObject},
        {L"HTMLEncode", 2, &ServerObject::ScriptHtmlEncode},
        {L"URLEncode", 3, &ServerObject::ScriptUrlEncode},
        {L"MapPath", 4, &ServerObject::ScriptMapPath},
        {L"ScriptTimeout", 5, &ServerObject::ScriptTimeout},
    };
    return kMembers;
}

namespace {

// The one argument of a method that takes text.
HRESULT TextArgument(const Invocation& call, std::wstring& text) {
    if (call.IsPut()) return DISP_E_MEMBERNOTFOUND;
    if (call.args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    return ArgText(call.args[0], text);
}

// The description a failed dispatch call carries, or a fallback.
std::wstring Describe(OwnedExcepInfo& info, const wchar_t* fallback) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    return info.bstrDescription ? info.bstrDescription : fallback;
}

}  // namespace

HRESULT ServerObject::ScriptCreateObject(const Invocation& call) {
    std::wstring progId;
    RETURN_IF_FAILED(TextArgument(call, progId));
    return CreateObject(progId, call.result);
}

HRESULT ServerObject::ScriptHtmlEncode(const Invocation& call) {
    std::wstring text;
    RETURN_IF_FAILED(TextArgument(call, text));
    return ReturnText(call.result, HtmlEncode(text));
}

HRESULT ServerObject::ScriptUrlEncode(const Invocation& call) {
    std::wstring text;
    RETURN_IF_FAILED(TextArgument(call, text));
    return ReturnText(call.result, UrlEncode(text));
}

HRESULT ServerObject::ScriptMapPath(const Invocation& call) {
    std::wstring path;
    RETURN_IF_FAILED(TextArgument(call, path));
    return MapPath(path, call.result);
}

// Accepted, not enforced.
HRESULT ServerObject::ScriptTimeout(const Invocation& call) {
    if (!call.IsPut()) PutInt(call.result, 90);
    return S_OK;
}

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
        OwnedExcepInfo info;
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
