#include "hosts/pagehost/WorkerPool.h"

#include "com/ComHolders.h"

#include <objbase.h>

using namespace qor;

namespace pagehost {

struct WorkerPool::Job {
    const std::function<void(PageRunner&)>* work;
    bool done = false;
    std::condition_variable finished;
};

WorkerPool::WorkerPool(int workers) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Run(const std::function<void(PageRunner&)>& work) {
    Job job;
    job.work = &work;
    std::unique_lock lock(mutex_);
    queue_.push_back(&job);
    wake_.notify_one();
    job.finished.wait(lock, [&] { return job.done; });
}

void WorkerPool::Work() {
    ApartmentMembership apartment;
    EnterApartment(COINIT_APARTMENTTHREADED, apartment);
    PageRunner runner;  // goes before the apartment is left
    runner.Init();      // a failure shows in every page as a host error
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) break;  // stopping, and nothing left to run
        Job* job = queue_.front();
        queue_.pop_front();
        lock.unlock();
        (*job->work)(runner);
        lock.lock();
        job->done = true;
        job->finished.notify_one();
    }
}

}  // namespace pagehost
