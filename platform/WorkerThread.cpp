#include "WorkerThread.h"

#include "Messages.h"

#include <QCoreApplication>
#include <QThread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {
std::atomic<WorkerThread::StartHook> startHook{nullptr};
} // namespace

void WorkerThread::SetStartHookForTests(StartHook hook) { startHook = hook; }

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread()
{
    StopAndJoin();
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

void WorkerThread::Start(std::function<void(WorkerThread&)> body)
{
    StopAndJoin();
    stop_ = false;
    // Made on first start: a control holds 64 idle channel threads, and most
    // never run.
    if (wakeFd_ < 0)
        wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    uint64_t drained;
    while (wakeFd_ >= 0 && read(wakeFd_, &drained, sizeof drained) > 0) {
    }
    running_ = true;
    thread_ = std::thread([this, body = std::move(body), hook = startHook.load()] {
        if (hook)
            hook();
        body(*this);
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
}

void WorkerThread::StopAndJoin()
{
    if (!thread_.joinable())
        return;
    RequestStop();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach(); // a thread cannot join itself; it is on its way out
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (app && app->thread() == QThread::currentThread()) {
        while (running_.load()) {
            ServeSentMessages();
            struct pollfd none {};
            poll(&none, 0, 2);
        }
    }
    thread_.join();
}

bool WorkerThread::SleepFor(int milliseconds)
{
    if (stop_.load())
        return false;
    if (wakeFd_ < 0) {
        struct pollfd none {};
        poll(&none, 0, milliseconds);
        return !stop_.load();
    }
    struct pollfd p {};
    p.fd = wakeFd_;
    p.events = POLLIN;
    poll(&p, 1, milliseconds);
    return !stop_.load();
}

} // namespace platform
