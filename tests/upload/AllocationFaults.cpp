#include "tests/upload/AllocationFaults.h"

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

}  // namespace

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
