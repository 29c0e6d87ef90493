#pragma once
// A joinable thread with a stop flag, a wake-up that ends its waits, and a
// descriptor that is readable once it is asked to stop, so that every wait
// inside it, a socket's included, can be cut short.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

class WakeGroup;

class WorkerThread {
public:
    using Clock = std::chrono::steady_clock;

    WorkerThread();
    ~WorkerThread(); // stops and joins
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body`; a thread still running from an earlier Start is stopped
    // and joined first. With a group, the thread is one of the group's from
    // before its body runs until after it returns.
    void Start(std::function<void(WorkerThread&)> body, WakeGroup* group = nullptr);

    // Sets the stop flag, ends every wait and makes WakeFd() readable.
    void RequestStop();

    // Stops and joins. On the GUI thread it keeps serving the synchronous
    // messages that workers send, so a worker blocked on one can finish.
    void StopAndJoin();

    bool Running() const { return running_.load(); }
    bool IsCurrentThread() const { return id_.load() == std::this_thread::get_id(); }
    bool StopRequested() const { return stop_.load(); }
    const std::atomic<bool>& StopFlag() const { return stop_; }

    // Readable once a stop is requested; for poll() beside a socket. A wake
    // leaves it as it is, so a socket's wait ends only for a stop.
    int WakeFd() const { return wakeFd_; }

    // Ends the thread's wait, or the next one if it is not waiting: whoever
    // changes what the thread waits for calls it after the change, so the
    // thread sees the change whether it was already waiting or about to.
    // From any thread.
    void Wake();

    // Waits until woken, stopped or (with a limit) the time is up; false
    // once a stop is requested. A wake is taken by the wait it ends. A limit
    // already reached (WaitFor of zero or less, a deadline past) returns at
    // once; only Wait() waits without one.
    bool Wait();
    bool WaitFor(int64_t milliseconds);
    bool WaitUntil(Clock::time_point deadline);
    // WaitUntil for a moment of the steady clock read as milliseconds since
    // its epoch: callers that keep their times as such readings wait for a
    // moment rather than a length, which ends when it should however late
    // the thread came to it.
    bool WaitUntilMs(int64_t steadyMilliseconds);

    // Sleeps up to `milliseconds`, through wakes; false when cut short by a
    // stop.
    bool SleepFor(int milliseconds);

    // Tests only: every thread started from now on calls `hook` before its
    // body, so that a test can make threads start late as on a loaded
    // machine. Null (the default) for none.
    using StartHook = void (*)();
    static void SetStartHookForTests(StartHook hook);

private:
    // `deadline` null: no limit. `wakes`: whether a wake ends the wait.
    bool WaitLocked(std::unique_lock<std::mutex>& lock, const Clock::time_point* deadline, bool wakes);

    std::thread thread_;
    // Set by the thread itself first thing, so that it knows itself before
    // the starting thread has finished with `thread_`.
    std::atomic<std::thread::id> id_{};
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    int wakeFd_ = -1;
    std::mutex waitLock_;
    std::condition_variable waitSignal_;
    bool woken_ = false; // under waitLock_
};

// Threads that follow one shared state (a play state, a clock every channel
// paces by): the thread that changes it wakes them all at once.
class WakeGroup {
public:
    WakeGroup() = default;
    WakeGroup(const WakeGroup&) = delete;
    WakeGroup& operator=(const WakeGroup&) = delete;

    // Wakes every member but the calling thread.
    void WakeAll();

private:
    friend class WorkerThread;
    void Add(WorkerThread* thread);
    void Remove(WorkerThread* thread);

    std::mutex lock_;
    std::vector<WorkerThread*> members_;
};

} // namespace platform
