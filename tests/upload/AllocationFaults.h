#pragma once
// Out-of-memory on demand: the test program replaces the global operator new,
// so that one chosen allocation of the C++ code in the program (the component
// and the test host alike) fails with std::bad_alloc, or nullptr for the
// nothrow forms.
namespace upload_test {

// Makes the n-th allocation from now on fail; 0 plans none.
void PlanAllocationFailure(long n);
// True once the planned failure has happened.
bool PlannedAllocationFailed();

}  // namespace upload_test
