#include "WorkerThread.h"

#include <algorithm>

#ifdef VYR_WORKER_SERVES_SENT_MESSAGES
#include "Messages.h"

#include <QCoreApplication>
#include <QThread>
#endif

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {
std::atomic<WorkerThread::StartHook> startHook{nullptr};

#ifdef VYR_WORKER_SERVES_SENT_MESSAGES
bool OnGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}
#endif
} // namespace

void WorkerThread::SetStartHookForTests(StartHook hook) { startHook = hook; }

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread()
{
    StopAndJoin();
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void WorkerThread::Start(std::function<void(WorkerThread&)> body, WakeGroup* group)
{
    StopAndJoin();
    stop_ = false;
    {
        std::lock_guard<std::mutex> lock(waitLock_);
        woken_ = false;
    }
    // Made on first start: a control holds 64 idle channel threads, and most
    // never run.
    if (wakeFd_ < 0)
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    uint64_t drained;
    while (wakeFd_ >= 0 && read(wakeFd_, &drained, sizeof drained) > 0) {
    }
    running_ = true;
    thread_ = std::thread([this, body = std::move(body), group, hook = startHook.load()] {
        id_ = std::this_thread::get_id();
        if (hook)
            hook();
        if (group)
            group->Add(this);
        body(*this);
        if (group)
            group->Remove(this);
        id_ = std::thread::id();
        running_ = false;
    });
}

void WorkerThread::RequestStop()
{
    stop_ = true;
    if (wakeFd_ >= 0) {
        uint64_t one = 1;
        ssize_t written = write(wakeFd_, &one, sizeof one);
        (void)written; // a full counter is already readable
    }
    // Taken, so that a thread between its look at the flag and its wait
    // cannot miss the signal.
    { std::lock_guard<std::mutex> lock(waitLock_); }
    waitSignal_.notify_all();
}

void WorkerThread::StopAndJoin()
{
    if (!thread_.joinable())
        return;
    RequestStop();
    if (IsCurrentThread()) {
        thread_.detach(); // a thread cannot join itself; it is on its way out
        return;
    }
#ifdef VYR_WORKER_SERVES_SENT_MESSAGES
    if (OnGuiThread()) {
        while (running_.load()) {
            ServeSentMessages();
            struct pollfd none {};
            poll(&none, 0, 2);
        }
    }
#endif
    thread_.join();
}

void WorkerThread::Wake()
{
    {
        std::lock_guard<std::mutex> lock(waitLock_);
        woken_ = true;
    }
    waitSignal_.notify_all();
}

bool WorkerThread::WaitLocked(std::unique_lock<std::mutex>& lock, const Clock::time_point* deadline, bool wakes)
{
    const auto over = [this, wakes] { return stop_.load() || (wakes && woken_); };
    if (deadline)
        waitSignal_.wait_until(lock, *deadline, over);
    else
        waitSignal_.wait(lock, over);
    if (wakes)
        woken_ = false;
    return !stop_.load();
}

bool WorkerThread::Wait()
{
    std::unique_lock<std::mutex> lock(waitLock_);
    return WaitLocked(lock, nullptr, true);
}

bool WorkerThread::WaitFor(int64_t milliseconds)
{
    // A time already past (zero or negative) returns at once: callers work
    // it out from a clock read after their own check, and a wait without a
    // limit is Wait(), by name.
    return WaitUntil(Clock::now() + std::chrono::milliseconds(std::max<int64_t>(milliseconds, 0)));
}

bool WorkerThread::WaitUntil(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(waitLock_);
    return WaitLocked(lock, &deadline, true);
}

bool WorkerThread::WaitUntilMs(int64_t steadyMilliseconds)
{
    return WaitUntil(Clock::time_point(std::chrono::milliseconds(steadyMilliseconds)));
}

bool WorkerThread::SleepFor(int milliseconds)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    std::unique_lock<std::mutex> lock(waitLock_);
    return WaitLocked(lock, &deadline, false);
}

void WakeGroup::WakeAll()
{
    std::lock_guard<std::mutex> lock(lock_);
    // A member that made the change is awake already; woken, it would take
    // its own change for a new one, and two such members would keep each
    // other awake.
    for (WorkerThread* thread : members_)
        if (!thread->IsCurrentThread())
            thread->Wake();
}

void WakeGroup::Add(WorkerThread* thread)
{
    std::lock_guard<std::mutex> lock(lock_);
    members_.push_back(thread);
}

void WakeGroup::Remove(WorkerThread* thread)
{
    std::lock_guard<std::mutex> lock(lock_);
    members_.erase(std::remove(members_.begin(), members_.end(), thread), members_.end());
}

} // namespace platform
