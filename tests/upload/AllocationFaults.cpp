#include "tests/upload/AllocationFaults.h"

#include <windows.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace upload_test {
namespace {

long countdown = 0;  // allocations left before the planned failure; 0: none planned
bool failed = false;

void* Allocate(std::size_t size) noexcept {
    if (countdown > 0 && --countdown == 0) {
        failed = true;
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}

bool countTaskMemory = false;

// Sees every task allocator call once registered; it counts allocations only
// while countTaskMemory is set, and a null answer of PreAlloc makes the
// allocation fail. Registered once for the process: revoking waits for every
// block it saw to be freed, which a test cannot promise.
class CountingSpy final : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override {
        if (countTaskMemory && countdown > 0 && --countdown == 0) {
            failed = true;
            return 0;
        }
        return size;
    }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override { return actual; }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override { return request; }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override {
        *newRequest = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

CountingSpy spy;
bool spyRegistered = false;

}  // namespace

TaskMemoryCounted::TaskMemoryCounted() {
    if (!spyRegistered) {
        EXPECT_EQ(CoRegisterMallocSpy(&spy), S_OK);
        spyRegistered = true;
    }
    countTaskMemory = true;
}

TaskMemoryCounted::~TaskMemoryCounted() { countTaskMemory = false; }

void PlanAllocationFailure(long n) {
    countdown = n;
    failed = false;
}

bool PlannedAllocationFailed() { return failed; }

}  // namespace upload_test

void* operator new(std::size_t size) { return upload_test::AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return upload_test::AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return upload_test::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return upload_test::Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
