#pragma once
// Out-of-memory on demand: the test program replaces the global operator new,
// so that one chosen allocation of the C++ code in the program (the component
// and the test host alike) fails with std::bad_alloc, or nullptr for the
// nothrow forms. Within a TaskMemoryCounted scope the task allocator's
// allocations (CoTaskMemAlloc: BSTRs, safe arrays, what the platform
// allocates for itself) count too, and the chosen one of them returns null.
namespace upload_test {

// Makes the n-th allocation from now on fail; 0 plans none.
void PlanAllocationFailure(long n);
// True once the planned failure has happened.
bool PlannedAllocationFailed();

class TaskMemoryCounted {
public:
    TaskMemoryCounted();
    ~TaskMemoryCounted();
    TaskMemoryCounted(const TaskMemoryCounted&) = delete;
    TaskMemoryCounted& operator=(const TaskMemoryCounted&) = delete;
};

}  // namespace upload_test
