#include "service/WorkerPool.h"

#include <utility>

namespace OrvaneClient {

WorkerPool::WorkerPool(int threadCount) {
    threads.reserve(static_cast<size_t>(threadCount));
    for (int index = 0; index < threadCount; ++index) {
        threads.emplace_back(&WorkerPool::work, this);
    }
}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::shutdown() {
    std::deque<std::function<void(bool cancelled)>> cancelled;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = true;
        cancelled.swap(jobs);
    }
    jobQueued.notify_all();
    for (std::thread& thread : threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    for (std::function<void(bool cancelled)>& job : cancelled) {
        try {
            job(true);
        } catch (...) {
            // Destructors never throw.
        }
    }
}

void WorkerPool::submit(std::function<void(bool cancelled)> job) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (ending) {
            lock.unlock();
            job(true);
            return;
        }
        jobs.push_back(std::move(job));
    }
    jobQueued.notify_one();
}

bool WorkerPool::isIdle() const {
    std::lock_guard<std::mutex> lock(mutex);
    return jobs.empty() && running == 0;
}

bool WorkerPool::waitIdle(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock<std::mutex> lock(mutex);
    return jobDone.wait_until(lock, deadline, [this] { return jobs.empty() && running == 0; });
}

void WorkerPool::work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        jobQueued.wait(lock, [this] { return ending || !jobs.empty(); });
        if (ending) {
            return;
        }
        std::function<void(bool cancelled)> job = std::move(jobs.front());
        jobs.pop_front();
        ++running;
        lock.unlock();
        try {
            job(false);
        } catch (...) {
            // Jobs report their own failures; nothing may end a worker thread.
        }
        lock.lock();
        --running;
        jobDone.notify_all();
    }
}

}  // namespace OrvaneClient
