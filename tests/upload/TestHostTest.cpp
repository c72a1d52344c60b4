#include "hosts/testhost/TestHost.h"

#include <asptlb.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using testhost::HostStep;
using testhost::kHostStepCount;
using testhost::ReadShape;
using testhost::TestHost;

using namespace qor;

namespace {

// What a component obtains when it walks the six host steps in order.
struct Walk {
    int failedStep = kHostStepCount;  // kHostStepCount: every step succeeded
    HRESULT failure = S_OK;
    ComPtr<IScriptingContext> context;
    ComPtr<IRequest> request;
    ComPtr<IRequestDictionary> variables;
    UniqueVariant key, contentType, count, data;
    LONG total = -1;
};

void WalkSteps(TestHost& host, Walk& w) {
    auto failed = [&w](HostStep s, HRESULT hr) {
        if (SUCCEEDED(hr)) return false;
        w.failedStep = static_cast<int>(s);
        w.failure = hr;
        return true;
    };
    if (failed(HostStep::QueryScriptingContext, host.NewScriptingContext().query(w.context, IID_IScriptingContext))) return;
    if (failed(HostStep::GetRequest, w.context->get_Request(w.request.put()))) return;
    if (failed(HostStep::GetServerVariables, w.request->get_ServerVariables(w.variables.put()))) return;
    w.key->vt = VT_BSTR;
    w.key->bstrVal = SysAllocString(L"CONTENT_TYPE");
    if (failed(HostStep::GetItem, w.variables->get_Item(*w.key.get(), w.contentType.put()))) return;
    if (failed(HostStep::GetTotalBytes, w.request->get_TotalBytes(&w.total))) return;
    w.count->vt = VT_I4;
    w.count->lVal = w.total;
    failed(HostStep::BinaryRead, w.request->BinaryRead(w.count.get(), w.data.put()));
}

// The bytes of a one-dimensional VT_UI1 array with lower bound 0.
std::string Bytes(SAFEARRAY* array) {
    VARTYPE type = VT_EMPTY;
    LONG lower = -1, upper = -2;
    SafeArrayGetVartype(array, &type);
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    EXPECT_EQ(SafeArrayGetDim(array), 1u);
    EXPECT_EQ(type, VT_UI1);
    EXPECT_EQ(lower, 0);
    return std::string(static_cast<const char*>(array->pvData), static_cast<size_t>(upper + 1));
}

const std::string kBody("--x\r\n\0\xFF body\r\n--x--", 21);
const LONG kSize = static_cast<LONG>(kBody.size());

}  // namespace

TEST(TestHost, ServesTheRequestAndCountsEveryReference) {
    ComPtr<IRequest> kept;
    {
        TestHost host;
        host.SetContentType(L"multipart/form-data; boundary=x");
        host.SetBody(kBody);
        Walk w;
        WalkSteps(host, w);
        ASSERT_EQ(w.failedStep, kHostStepCount);
        EXPECT_STREQ(w.contentType->bstrVal, L"multipart/form-data; boundary=x");
        EXPECT_EQ(host.LastItemKey(), L"CONTENT_TYPE");
        EXPECT_EQ(w.total, kSize);
        ASSERT_EQ(w.data->vt, VT_ARRAY | VT_UI1);
        EXPECT_EQ(Bytes(w.data->parray), kBody);
        EXPECT_EQ(host.LastReadCountType(), VT_I4);
        for (int s = 0; s < kHostStepCount; ++s) EXPECT_EQ(host.Calls(static_cast<HostStep>(s)), 1);

        EXPECT_EQ(host.LiveObjects(), 3);  // context, request, server variables
        EXPECT_EQ(w.context->AddRef(), 2u);
        EXPECT_EQ(w.context->Release(), 1u);
        w.context.reset();
        w.variables.reset();
        EXPECT_EQ(host.LiveObjects(), 1);
        kept = w.request;
        w.request.reset();
        EXPECT_EQ(host.LiveObjects(), 1);
    }
    // A reference released after the host is gone still finds its state.
    LONG total = 0;
    EXPECT_EQ(kept->get_TotalBytes(&total), S_OK);
    EXPECT_EQ(total, kSize);
}

TEST(TestHost, ContentTypeAsAnyVariantAndKeysByReference) {
    TestHost host;
    Walk w;
    WalkSteps(host, w);
    EXPECT_EQ(w.contentType->vt, VT_EMPTY);  // not configured: absent

    UniqueVariant value;
    value->vt = VT_I4;
    value->lVal = 42;
    ASSERT_EQ(host.SetContentTypeVariant(*value.get()), S_OK);
    ASSERT_EQ(w.variables->get_Item(*w.key.get(), value.put()), S_OK);
    EXPECT_EQ(value->vt, VT_I4);
    EXPECT_EQ(value->lVal, 42);
    value->vt = VT_NULL;
    ASSERT_EQ(host.SetContentTypeVariant(*value.get()), S_OK);
    ASSERT_EQ(w.variables->get_Item(*w.key.get(), value.put()), S_OK);
    EXPECT_EQ(value->vt, VT_NULL);

    // Script variables arrive by reference; names are not case-sensitive.
    host.SetContentType(L"text/plain");
    UniqueBstr lower(SysAllocString(L"content_type"));
    BSTR name = lower.get();
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_BSTR;
    byRef.pbstrVal = &name;
    ASSERT_EQ(w.variables->get_Item(byRef, value.put()), S_OK);
    EXPECT_STREQ(value->bstrVal, L"text/plain");
    EXPECT_EQ(host.LastItemKeyType(), VT_BYREF | VT_BSTR);
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = w.key.get();
    ASSERT_EQ(w.variables->get_Item(byRef, value.put()), S_OK);
    EXPECT_STREQ(value->bstrVal, L"text/plain");
}

TEST(TestHost, EachStepFailsWithTheChosenCodeAndHandsOutNothing) {
    for (int s = 0; s < kHostStepCount; ++s) {
        const HRESULT code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200 + s);
        TestHost host;
        host.SetStepResult(static_cast<HostStep>(s), code);
        {
            Walk w;
            WalkSteps(host, w);
            EXPECT_EQ(w.failedStep, s);
            EXPECT_EQ(w.failure, code);
            for (int t = 0; t < kHostStepCount; ++t) EXPECT_EQ(host.Calls(static_cast<HostStep>(t)), t <= s ? 1 : 0);
            EXPECT_EQ(w.contentType->vt, VT_EMPTY);
            EXPECT_EQ(w.data->vt, VT_EMPTY);
            EXPECT_EQ(host.LiveObjects(), std::min(s, 3));  // one object per step that made one
        }
        EXPECT_EQ(host.LiveObjects(), 0);
    }
    // A success code other than S_OK comes back with the normal answer.
    TestHost host;
    host.SetBody("abc");
    host.SetStepResult(HostStep::GetTotalBytes, S_FALSE);
    Walk w;
    WalkSteps(host, w);
    EXPECT_EQ(w.request->get_TotalBytes(&w.total), S_FALSE);
    EXPECT_EQ(w.total, 3);
}

// One numbered call fails; the calls before and after it answer, and a
// failed stream read takes nothing of the body.
TEST(TestHost, OnlyTheNthCallOfAStepFails) {
    const HRESULT code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x2A0);
    TestHost host;
    host.SetBody("abcdef");
    host.SetReadShape(ReadShape::Stream);
    Walk w;
    WalkSteps(host, w);  // the first read takes everything; the stream is at its end
    host.SetBody("abcdef");
    host.FailNthCall(HostStep::BinaryRead, 2, code);
    std::vector<HRESULT> results;
    std::string read;
    for (int i = 0; i < 4; ++i) {
        w.count->vt = VT_I4;
        w.count->lVal = 2;
        UniqueVariant data;
        results.push_back(w.request->BinaryRead(w.count.get(), data.put()));
        if (data->vt == (VT_ARRAY | VT_UI1)) read += Bytes(data->parray);
    }
    EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, code, S_OK, S_OK}));
    EXPECT_EQ(read, "abcdef");
    EXPECT_EQ(host.Calls(HostStep::BinaryRead), 5);
    host.FailNthCall(HostStep::BinaryRead, 1, code);
    host.FailNthCall(HostStep::BinaryRead, 0, code);  // takes it back
    host.SetBody("ab");
    UniqueVariant data;
    EXPECT_EQ(w.request->BinaryRead(w.count.get(), data.put()), S_OK);
}

TEST(TestHost, BinaryReadShapes) {
    TestHost host;
    host.SetBody(kBody);
    host.SetTotalBytes(1000);  // more than the host has
    host.SetReadShape(ReadShape::EmptyAfterFirst);
    Walk w;
    WalkSteps(host, w);
    EXPECT_EQ(w.total, 1000);
    EXPECT_EQ(Bytes(w.data->parray), kBody);
    EXPECT_EQ(w.count->lVal, kSize);  // written back: the bytes actually read

    auto read = [&w](LONG count, UniqueVariant& data) {
        w.count->vt = VT_I4;
        w.count->lVal = count;
        EXPECT_EQ(w.request->BinaryRead(w.count.get(), data.put()), S_OK);
    };
    UniqueVariant data, first;
    read(kSize, data);  // the body is consumed
    EXPECT_EQ(Bytes(data->parray), "");
    EXPECT_EQ(w.count->lVal, 0);

    host.SetReadShape(ReadShape::ByteArray);
    read(-5, data);
    EXPECT_EQ(Bytes(data->parray), "");
    read(3, data);
    EXPECT_EQ(Bytes(data->parray), kBody.substr(0, 3));
    host.SetReadShape(ReadShape::ShortByteArray, 4);
    read(kSize, data);
    EXPECT_EQ(Bytes(data->parray), kBody.substr(0, 4));
    EXPECT_EQ(w.count->lVal, 4);

    host.SetReadShape(ReadShape::ByteArrayByRef);
    read(kSize, first);
    ASSERT_EQ(first->vt, VT_BYREF | VT_ARRAY | VT_UI1);
    read(2, data);
    EXPECT_EQ(Bytes(*data->pparray), kBody.substr(0, 2));
    EXPECT_EQ(Bytes(*first->pparray), kBody);  // still alive after a later read

    host.SetReadShape(ReadShape::NonByteArray);
    read(kSize, data);
    ASSERT_EQ(data->vt, VT_ARRAY | VT_I4);
    LONG element = -1, index = 6;  // the byte 0xFF
    ASSERT_EQ(SafeArrayGetElement(data->parray, &index, &element), S_OK);
    EXPECT_EQ(element, 0xFF);
    host.SetReadShape(ReadShape::NotAnArray);
    read(kSize, data);
    EXPECT_EQ(data->vt, VT_I4);

    // A script's count variable, passed by reference, receives the bytes read.
    UniqueVariant variable;
    variable->vt = VT_I2;
    variable->iVal = 5;
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = variable.get();
    host.SetReadShape(ReadShape::ByteArray);
    ASSERT_EQ(w.request->BinaryRead(&byRef, data.put()), S_OK);
    EXPECT_EQ(Bytes(data->parray), kBody.substr(0, 5));
    EXPECT_EQ(host.LastReadCount(), 5);
    EXPECT_EQ(variable->vt, VT_I4);
    EXPECT_EQ(variable->lVal, 5);
}
