#pragma once
// "QORTest.PageHost": the page host, made scriptable for the script suite. A
// script describes the request (content type, body, host calls that fail),
// then hands a component to Start, which calls the component's OnStartPage by
// name with a new scripting context, as a page host does; End calls its
// OnEndPage. Its IDispatch is written by hand: every member is callable as a
// method or read as a property, with the arguments that script engines pass.
// A member's failure reaches the script as an exception with a description
// when the member gave one, else as the bare result code; nothing throws.
#include "hosts/dispatch/NamedCall.h"
#include "hosts/testhost/TestHost.h"
#include "hosts/HostDispatch.h"

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <span>
#include <string>
#include <vector>

namespace scripthost {

// The component's resource owners and failure idiom, unqualified.
using namespace qor;

inline constexpr wchar_t kProgId[] = L"QORTest.PageHost";
// {5A0B7E61-3C2D-4F8E-9B1A-6D4C2E8F0A17}
inline constexpr CLSID kClsid = {0x5a0b7e61, 0x3c2d, 0x4f8e, {0x9b, 0x1a, 0x6d, 0x4c, 0x2e, 0x8f, 0x0a, 0x17}};

class ScriptablePageHost final : public HostDispatch<IDispatch> {
public:
    static HRESULT Create(REFIID iid, void** out) noexcept;
    // Page host objects not yet destroyed.
    static LONG LiveCount() noexcept { return live_.load(); }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override;

private:
    // One call of a member: its arguments, dereferenced and in natural order;
    // where its value goes (may be null); and what describes its failure.
    struct MemberCall {
        std::vector<UniqueVariant> args;
        VARIANT* result;
        CallFailure& failure;

        const VARIANT& Arg(size_t i) const { return *args[i].get(); }
        // The argument was passed and not left out.
        bool Given(size_t i) const;
        // Describes the failure for the script and returns its code.
        HRESULT Fail(HRESULT code, std::wstring description) const;
    };
    struct Member {
        const wchar_t* name;
        DISPID id;
        UINT minArgs, maxArgs;
        HRESULT (ScriptablePageHost::*run)(const MemberCall& call);
    };
    static std::span<const Member> Members();
    static const Member* FindMember(DISPID id);

    ScriptablePageHost() noexcept : HostDispatch(IID_IDispatch) { ++live_; }
    ~ScriptablePageHost() override { --live_; }

    HRESULT Run(const Member& member, const DISPPARAMS& params, VARIANT* result, CallFailure& failure, UINT* argError);

    HRESULT SetContentType(const MemberCall& call);
    HRESULT SetBody(const MemberCall& call);
    HRESULT SetBodyFromFile(const MemberCall& call);
    HRESULT SetTotalBytes(const MemberCall& call);
    HRESULT FailStep(const MemberCall& call);
    HRESULT SetReadShape(const MemberCall& call);
    HRESULT SetReadDelay(const MemberCall& call);
    HRESULT Pause(const MemberCall& call);
    HRESULT Start(const MemberCall& call);
    HRESULT End(const MemberCall& call);
    HRESULT NewContext(const MemberCall& call);
    HRESULT LiveObjects(const MemberCall& call);
    HRESULT Calls(const MemberCall& call);

    HRESULT CallPageMethod(const VARIANT& component, const wchar_t* name, bool withContext, CallFailure& failure);

    static inline std::atomic<LONG> live_{0};
    testhost::TestHost host_;
};

}  // namespace scripthost
