#pragma once
// The failure exception of the result objects: it carries only a result code.
// Helpers raise it when a platform VARIANT call fails; every automation method
// turns it back into its result code at its boundary (CallBoundary), so no
// exception leaves a method.
#include <windows.h>

#include <exception>
#include <new>

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
