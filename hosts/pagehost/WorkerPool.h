#pragma once
// Single-threaded-apartment threads that run pages. Each has its own
// PageRunner (and so its own script engines); the connection threads hand a
// page over and wait for it, and read heads and write answers themselves.
// A page's BinaryRead waits for its body on the worker: nothing else calls
// into a worker's apartment, so that wait holds up only its own page.
// A job reports its own failures; it must not throw.
#include "hosts/pagehost/PageRunner.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pagehost {

class WorkerPool {
public:
    explicit WorkerPool(int workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs the job on the next free worker and returns when it is done.
    void Run(const std::function<void(PageRunner&)>& job);

private:
    struct Job;
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace pagehost
