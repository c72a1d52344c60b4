#pragma once
// An in-process page host for driving the component without a web server: it
// hands out a scripting context whose Request object serves a configured
// content type and body through the page host interfaces, can make each call
// fail or answer in unusual shapes, and counts calls and live objects so
// tests can see what a component did with them. Its host objects answer with
// result codes (see HostObjects.h); only the setters throw, and only for lack
// of memory.
#include "com/ComHolders.h"

#include <windows.h>

#include <memory>
#include <string_view>

namespace testhost {

// The component's resource owners and failure idiom, unqualified.
using namespace qor;

// The host calls a component makes, in the order it makes them.
enum class HostStep : int {
    QueryScriptingContext,  // QueryInterface for IScriptingContext
    GetRequest,             // IScriptingContext::get_Request
    GetServerVariables,     // IRequest::get_ServerVariables
    GetItem,                // IRequestDictionary::get_Item
    GetTotalBytes,          // IRequest::get_TotalBytes
    BinaryRead,             // IRequest::BinaryRead
};
inline constexpr int kHostStepCount = 6;

// What BinaryRead hands back for a count n (n below 0 reads nothing); every
// array has lower bound 0.
enum class ReadShape {
    ByteArray,         // VT_ARRAY|VT_UI1: the first min(n, body) bytes
    ShortByteArray,    // VT_ARRAY|VT_UI1: the first min(shortLength, body) bytes, whatever n is
    ByteArrayByRef,    // VT_BYREF|VT_ARRAY|VT_UI1 onto an array the host keeps alive
    NonByteArray,      // VT_ARRAY|VT_I4: one element per byte that ByteArray would give
    NotAnArray,        // VT_I4: the number of bytes ByteArray would give
    EmptyAfterFirst,   // ByteArray once, then empty byte arrays: the body is consumed
    NothingAsEmpty,    // ByteArray, but a read of no bytes answers VT_EMPTY
    NothingAsNull,     // ByteArray, but a read of no bytes answers VT_NULL
    Stream,            // VT_ARRAY|VT_UI1: the next min(n, unread) bytes (at most shortLength
                       // when it is not 0), each read going on where the last ended, as a
                       // web server's does; SetBody starts again at the beginning
};

struct HostState;

// Host objects of every TestHost not yet destroyed, in the whole process.
LONG LiveHostObjectsInProcess();

class TestHost {
public:
    // Starts with no content type (VT_EMPTY), an empty body, no failures.
    TestHost();
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // The "CONTENT_TYPE" server variable as a string.
    void SetContentType(std::wstring_view text);
    // ... or as any variant (a number, VT_NULL, VT_EMPTY for absent).
    HRESULT SetContentTypeVariant(const VARIANT& value);
    void SetBody(std::string_view bytes);
    // What get_TotalBytes reports instead of the body's length.
    void SetTotalBytes(LONG total);
    void SetReadShape(ReadShape shape, ULONG shortLength = 0);
    // How long each BinaryRead waits before it answers, as a slow client
    // makes a web server wait; 0 (the default) answers at once.
    void SetReadDelay(DWORD milliseconds);
    // What every later call of the step returns. A failure code makes the
    // call fail and hand out nothing; a success code (S_FALSE) comes back with
    // the normal answer; S_OK restores the default.
    void SetStepResult(HostStep step, HRESULT result);
    // Makes only the nth call of the step from now on (1: the next) fail with
    // this code; the others answer as configured. 0 fails none.
    void FailNthCall(HostStep step, int nth, HRESULT result);
    // Makes the step succeed but hand out a null object, as a faulty host
    // might: QueryScriptingContext, GetRequest and GetServerVariables.
    void SetNullAnswer(HostStep step, bool null = true);

    // A new scripting context, as a page host passes it to OnStartPage.
    // Every get_Request and get_ServerVariables makes a new object too, so
    // LiveObjects() counts exactly the references still held.
    ComPtr<IUnknown> NewScriptingContext();

    // Calls of the step so far, failed ones included.
    int Calls(HostStep step) const;
    // Host objects not yet destroyed.
    LONG LiveObjects() const;
    // The key of the last get_Item after dereferencing, and its variant type as passed.
    std::wstring_view LastItemKey() const;
    VARTYPE LastItemKeyType() const;
    // BinaryRead calls so far.
    int BinaryReads() const;
    // The count of the last BinaryRead, and its variant type as passed.
    LONG LastReadCount() const;
    VARTYPE LastReadCountType() const;

private:
    // Shared with every object handed out, so a reference released after the
    // host is gone still finds its state.
    std::shared_ptr<HostState> state_;
};

}  // namespace testhost
