#pragma once
// The objects a page sees as Request, Response and Server, and the scripting
// context that Server.CreateObject passes to a component's OnStartPage.
// Request, its dictionaries and the context have the exact vtable layouts of
// <asptlb.h>, since components call them through the vtable; all of them
// also answer scripts by name. Their methods return result codes and throw
// nothing; a script's call fails as ScriptObject describes.
#include "hosts/pagehost/PageState.h"
#include "hosts/pagehost/ScriptObject.h"

#include <asptlb.h>

#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace pagehost {

using SharedPage = std::shared_ptr<PageState>;
using NameValuePairs = std::vector<std::pair<std::wstring, std::wstring>>;

// Read-only name/value pairs: QueryString and ServerVariables. Names compare
// without regard to case; a name given several times yields its values joined
// by ", "; an unknown name yields Empty.
class RequestDictionary final : public ScriptObject<IRequestDictionary, RequestDictionary> {
public:
    explicit RequestDictionary(NameValuePairs entries);

    HRESULT WINAPI get_Item(VARIANT key, VARIANT* value) override;
    HRESULT WINAPI get__NewEnum(IUnknown** enumerator) override;
    HRESULT WINAPI get_Count(int* count) override;
    HRESULT WINAPI get_Key(VARIANT position, VARIANT* key) override;

    static std::span<const ScriptMember<RequestDictionary>> Members();

private:
    HRESULT ScriptItem(const Invocation& call);
    HRESULT ScriptCount(const Invocation& call);
    HRESULT ScriptKey(const Invocation& call);

    NameValuePairs entries_;
};

class RequestObject final : public ScriptObject<IRequest, RequestObject> {
public:
    explicit RequestObject(SharedPage page);

    HRESULT WINAPI get_Item(BSTR name, IDispatch** item) override;
    HRESULT WINAPI get_QueryString(IRequestDictionary** dict) override;
    HRESULT WINAPI get_Form(IRequestDictionary** dict) override;
    HRESULT WINAPI get_Body(IRequestDictionary** dict) override;
    HRESULT WINAPI get_ServerVariables(IRequestDictionary** dict) override;
    HRESULT WINAPI get_ClientCertificate(IRequestDictionary** dict) override;
    HRESULT WINAPI get_Cookies(IRequestDictionary** dict) override;
    HRESULT WINAPI get_TotalBytes(LONG* total) override;
    HRESULT WINAPI BinaryRead(VARIANT* count, VARIANT* result) override;

    static std::span<const ScriptMember<RequestObject>> Members();

private:
    HRESULT ScriptItem(const Invocation& call);
    HRESULT ScriptQueryString(const Invocation& call);
    HRESULT ScriptServerVariables(const Invocation& call);
    HRESULT ScriptTotalBytes(const Invocation& call);
    HRESULT ScriptBinaryRead(const Invocation& call);
    HRESULT DictionaryMember(const Invocation& call, HRESULT (WINAPI RequestObject::*get)(IRequestDictionary**));

    NameValuePairs ServerVariables() const;
    NameValuePairs QueryPairs() const;
    HRESULT Read(LONG wanted, VARIANT* result, LONG& delivered);

    SharedPage page_;
};

class ResponseObject final : public ScriptObject<IDispatch, ResponseObject> {
public:
    explicit ResponseObject(SharedPage page);

    static std::span<const ScriptMember<ResponseObject>> Members();

private:
    HRESULT Write(const Invocation& call);
    HRESULT ContentType(const Invocation& call);
    HRESULT Status(const Invocation& call);
    HRESULT Redirect(const Invocation& call);
    HRESULT End(const Invocation& call);
    HRESULT AddHeader(const Invocation& call);
    HRESULT CodePage(const Invocation& call);
    HRESULT Buffer(const Invocation& call);
    HRESULT BinaryWrite(const Invocation& call);
    HRESULT Charset(const Invocation& call);
    // A text property of the response: read as it stands, or set to text that
    // `valid` accepts (else the failure says `refusal`).
    HRESULT TextProperty(const Invocation& call, std::string& field, bool (*valid)(std::wstring_view),
                         const wchar_t* refusal);
    HRESULT EndPage();

    SharedPage page_;
};

class ScriptingContextObject final : public ScriptObject<IScriptingContext, ScriptingContextObject> {
public:
    explicit ScriptingContextObject(ComPtr<IRequest> request);

    HRESULT WINAPI get_Request(IRequest** request) override;
    // Response and Server are script objects without the vtables of
    // IResponse/IServer, so they are not handed to components.
    HRESULT WINAPI get_Response(IResponse** response) override;
    HRESULT WINAPI get_Server(IServer** server) override;
    HRESULT WINAPI get_Session(ISessionObject** session) override;
    HRESULT WINAPI get_Application(IApplicationObject** application) override;

    static std::span<const ScriptMember<ScriptingContextObject>> Members();

private:
    HRESULT ScriptRequest(const Invocation& call);

    ComPtr<IRequest> request_;
};

class ServerObject final : public ScriptObject<IDispatch, ServerObject> {
public:
    ServerObject(SharedPage page, ComPtr<IUnknown> scriptingContext);

    static std::span<const ScriptMember<ServerObject>> Members();

private:
    HRESULT ScriptCreateObject(const Invocation& call);
    HRESULT ScriptHtmlEncode(const Invocation& call);
    HRESULT ScriptUrlEncode(const Invocation& call);
    HRESULT ScriptMapPath(const Invocation& call);
    HRESULT ScriptTimeout(const Invocation& call);
    HRESULT CreateObject(const std::wstring& progId, VARIANT* result);
    HRESULT MapPath(const std::wstring& path, VARIANT* result);

    SharedPage page_;
    ComPtr<IUnknown> scriptingContext_;
};

// Server.HTMLEncode and Server.URLEncode, also used by the host's own pages.
std::wstring HtmlEncode(std::wstring_view text);
std::wstring UrlEncode(std::wstring_view text);

// Calls OnEndPage on every object the page created that has one, then lets
// go of them all.
void EndCreatedObjects(PageState& page);

}  // namespace pagehost
