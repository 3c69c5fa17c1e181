#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace OrvaneClient {

// A fixed set of threads that run the long requests (grants, launches, the refresh token and the
// caller check before them), so that the reactor thread keeps serving everyone else. Jobs run in
// the order they were submitted, as soon as a thread is free; each connection has at most one job
// at a time, so the queue never holds more jobs than there are connections.
//
// A job is called with false on a worker thread; a job still queued when the pool is destroyed is
// called with true instead, on the destroying thread, so that it can release what it holds without
// doing its work. A job must not throw; what it throws is dropped.
//
// Threads: `submit`, `waitIdle` and `isIdle` from any thread. Destruction lets the jobs already
// taken finish and joins every thread, without a limit: a process that must end sooner than a
// running job exits without destroying the pool (see ServiceServer::hasAbandonedWork).
class WorkerPool {
public:
    explicit WorkerPool(int threadCount);
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void(bool cancelled)> job);

    // What the destructor does, earlier: the jobs already taken finish, those still queued are
    // cancelled, and every thread is joined. Later submissions are cancelled at once.
    void shutdown();

    // True when no job is queued or running.
    bool isIdle() const;
    // Waits until the pool is idle or `deadline` has passed; true when idle.
    bool waitIdle(std::chrono::steady_clock::time_point deadline) const;

private:
    void work();

    mutable std::mutex mutex;
    std::condition_variable jobQueued;
    mutable std::condition_variable jobDone;
    std::deque<std::function<void(bool cancelled)>> jobs;
    int running = 0;
    bool ending = false;
    std::vector<std::thread> threads;
};

}  // namespace OrvaneClient
