#pragma once
// How failures travel on the Windows side. A platform call's HRESULT is
// returned at once when it failed (RETURN_IF_FAILED), or raised as an
// AutomationFailure where a helper has no result of its own to return; every
// automation method and host callback turns what is raised back into its
// result code at its boundary (CallBoundary), so no exception leaves one.
#include <windows.h>

#include <exception>
#include <new>

// Returns from the calling function with the HRESULT of expr when it is a
// failure; success goes on to the next line.
#define RETURN_IF_FAILED(expr)                                \
    do {                                                      \
        if (const HRESULT failed_ = (expr); FAILED(failed_)) \
            return failed_;                                   \
    } while (false)

namespace qor {

class AutomationFailure : public std::exception {
public:
    explicit AutomationFailure(HRESULT code) noexcept : code_(code) {}
    HRESULT code() const noexcept { return code_; }
    const char* what() const noexcept override { return "automation failure"; }

private:
    HRESULT code_;
};

[[noreturn]] void RaiseFailure(HRESULT code);

// The thread's last system error as an HRESULT, or fallback when the call
// that failed left none: a failure must still read as one.
inline HRESULT LastErrorOr(HRESULT fallback = E_FAIL) noexcept {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : fallback;
}

// Raises the failure code of a platform call; success passes through.
inline void CheckHr(HRESULT hr) {
    if (FAILED(hr)) RaiseFailure(hr);
}

// Runs the body of an automation method and maps what it throws to a result code.
template <typename Body>
HRESULT CallBoundary(Body&& body) noexcept {
    try {
        return body();
    } catch (const AutomationFailure& failure) {
        return failure.code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace qor
