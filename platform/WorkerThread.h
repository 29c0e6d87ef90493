#pragma once
// A joinable thread with a stop flag and a wake-up descriptor, so that every
// wait inside it can be cut short when it is asked to stop.
#include <atomic>
#include <functional>
#include <thread>

namespace platform {

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread(); // stops and joins
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body`; a thread still running from an earlier Start is stopped
    // and joined first.
    void Start(std::function<void(WorkerThread&)> body);

    // Sets the stop flag and makes WakeFd() readable.
    void RequestStop();

    // Stops and joins. On the GUI thread it keeps serving the synchronous
    // messages that workers send, so a worker blocked on one can finish.
    void StopAndJoin();

    bool Running() const { return running_.load(); }
    bool IsCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }
    bool StopRequested() const { return stop_.load(); }
    const std::atomic<bool>& StopFlag() const { return stop_; }

    // Readable once a stop is requested; for poll() beside a socket.
    int WakeFd() const { return wakeFd_; }

    // Sleeps up to `milliseconds`; returns false when woken by a stop.
    bool SleepFor(int milliseconds);

    // Tests only: every thread started from now on calls `hook` before its
    // body, so that a test can make threads start late as on a loaded
    // machine. Null (the default) for none.
    using StartHook = void (*)();
    static void SetStartHookForTests(StartHook hook);

private:
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    int wakeFd_ = -1;
};

} // namespace platform
