#pragma once
// "QORTest.PageHost": the page host, made scriptable for the script suite. A
// script describes the request (content type, body, host calls that fail),
// then hands a component to Start, which calls the component's OnStartPage by
// name with a new scripting context, as a page host does; End calls its
// OnEndPage. Its IDispatch is written by hand: every member is callable as a
// method or read as a property, with the arguments that script engines pass.
#include "NamedCall.h"
#include "TestHost.h"

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <vector>

namespace scripthost {

inline constexpr wchar_t kProgId[] = L"QORTest.PageHost";
// {5A0B7E61-3C2D-4F8E-9B1A-6D4C2E8F0A17}
inline constexpr CLSID kClsid = {0x5a0b7e61, 0x3c2d, 0x4f8e, {0x9b, 0x1a, 0x6d, 0x4c, 0x2e, 0x8f, 0x0a, 0x17}};

class ScriptablePageHost final : public IDispatch {
public:
    static HRESULT Create(REFIID iid, void** out) noexcept;
    // Page host objects not yet destroyed.
    static LONG LiveCount() noexcept { return live_.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override;

private:
    // Arguments arrive dereferenced, in natural order; a failure fills
    // `failure` and returns its code.
    using Arguments = std::vector<UniqueVariant>;
    HRESULT Call(DISPID id, Arguments& args, VARIANT* result, CallFailure& failure);

    ScriptablePageHost() noexcept { ++live_; }
    ~ScriptablePageHost() { --live_; }
    ScriptablePageHost(const ScriptablePageHost&) = delete;
    ScriptablePageHost& operator=(const ScriptablePageHost&) = delete;

    HRESULT CallPageMethod(const VARIANT& component, const wchar_t* name, bool withContext, CallFailure& failure);

    static inline std::atomic<LONG> live_{0};
    LONG refs_ = 0;
    testhost::TestHost host_;
};

}  // namespace scripthost
