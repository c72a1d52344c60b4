#pragma once
// The objects a page sees as Request, Response and Server, and the scripting
// context that Server.CreateObject passes to a component's OnStartPage.
// Request, its dictionaries and the context have the exact vtable layouts of
// <asptlb.h>, since components call them through the vtable; all of them
// also answer scripts by name.
#include "PageState.h"
#include "ScriptObject.h"

#include <asptlb.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pagehost {

using SharedPage = std::shared_ptr<PageState>;

// Read-only name/value pairs: QueryString and ServerVariables. Names compare
// without regard to case; a name given several times yields its values joined
// by ", "; an unknown name yields Empty.
class RequestDictionary final : public ScriptObject<IRequestDictionary> {
public:
    explicit RequestDictionary(std::vector<std::pair<std::wstring, std::wstring>> entries);

    HRESULT WINAPI get_Item(VARIANT key, VARIANT* value) override;
    HRESULT WINAPI get__NewEnum(IUnknown** enumerator) override;
    HRESULT WINAPI get_Count(int* count) override;
    HRESULT WINAPI get_Key(VARIANT position, VARIANT* key) override;

protected:
    const MemberName* Members(size_t& count) const override;
    HRESULT Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) override;

private:
    std::vector<std::pair<std::wstring, std::wstring>> entries_;
};

class RequestObject final : public ScriptObject<IRequest> {
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

protected:
    const MemberName* Members(size_t& count) const override;
    HRESULT Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) override;

private:
    std::vector<std::pair<std::wstring, std::wstring>> ServerVariables() const;
    std::vector<std::pair<std::wstring, std::wstring>> QueryPairs() const;
    HRESULT Read(LONG wanted, VARIANT* result, LONG& delivered);

    SharedPage page_;
};

class ResponseObject final : public ScriptObject<IDispatch> {
public:
    explicit ResponseObject(SharedPage page);

protected:
    const MemberName* Members(size_t& count) const override;
    HRESULT Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) override;

private:
    HRESULT End();
    SharedPage page_;
};

class ScriptingContextObject final : public ScriptObject<IScriptingContext> {
public:
    explicit ScriptingContextObject(ComPtr<IRequest> request);

    HRESULT WINAPI get_Request(IRequest** request) override;
    // Response and Server are script objects without the vtables of
    // IResponse/IServer, so they are not handed to components.
    HRESULT WINAPI get_Response(IResponse** response) override;
    HRESULT WINAPI get_Server(IServer** server) override;
    HRESULT WINAPI get_Session(ISessionObject** session) override;
    HRESULT WINAPI get_Application(IApplicationObject** application) override;

protected:
    const MemberName* Members(size_t& count) const override;
    HRESULT Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) override;

private:
    ComPtr<IRequest> request_;
};

class ServerObject final : public ScriptObject<IDispatch> {
public:
    ServerObject(SharedPage page, ComPtr<IUnknown> scriptingContext);

protected:
    const MemberName* Members(size_t& count) const override;
    HRESULT Call(DISPID id, WORD flags, const CallArgs& args, VARIANT* result) override;

private:
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
