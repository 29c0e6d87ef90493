#include "Timers.h"

#include <QThread>

namespace platform {

TimerSet::TimerSet(QObject* owner, std::function<void(unsigned)> onTimer)
    : owner_(owner), onTimer_(std::move(onTimer))
{
}

TimerSet::~TimerSet()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_->thread() == QThread::currentThread())
        for (auto& [id, qt] : qtIds_)
            owner_->killTimer(qt);
    qtIds_.clear();
}

void TimerSet::SetTimer(unsigned id, int milliseconds)
{
    if (owner_->thread() == QThread::currentThread())
        SetOnOwnerThread(id, milliseconds);
    else
        QMetaObject::invokeMethod(owner_, [this, id, milliseconds] { SetOnOwnerThread(id, milliseconds); },
                                  Qt::QueuedConnection);
}

void TimerSet::KillTimer(unsigned id)
{
    if (owner_->thread() == QThread::currentThread())
        KillOnOwnerThread(id);
    else
        QMetaObject::invokeMethod(owner_, [this, id] { KillOnOwnerThread(id); }, Qt::QueuedConnection);
}

bool TimerSet::IsActive(unsigned id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return qtIds_.count(id) != 0;
}

void TimerSet::SetOnOwnerThread(unsigned id, int milliseconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = qtIds_.find(id);
    if (it != qtIds_.end()) {
        owner_->killTimer(it->second);
        qtIds_.erase(it);
    }
    // Precise: a coarse timer may fire up to 5% early, a long one up to a
    // second early, and these timers carry time-outs the operator waits out.
    int qt = owner_->startTimer(std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds), Qt::PreciseTimer);
    if (qt != 0)
        qtIds_[id] = qt;
}

void TimerSet::KillOnOwnerThread(unsigned id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = qtIds_.find(id);
    if (it == qtIds_.end())
        return;
    owner_->killTimer(it->second);
    qtIds_.erase(it);
}

bool TimerSet::Dispatch(int qtTimerId)
{
    unsigned id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bool found = false;
        for (auto& [ours, qt] : qtIds_)
            if (qt == qtTimerId) {
                id = ours;
                found = true;
                break;
            }
        if (!found)
            return false;
    }
    onTimer_(id);
    return true;
}

} // namespace platform
