#pragma once
// Timers kept by the caller's own ids, as SetTimer/KillTimer/OnTimer use
// them; each id runs at most once per owner.
#include <QObject>

#include <functional>
#include <map>
#include <mutex>

namespace platform {

class TimerSet {
public:
    // `onTimer` runs on the owner's thread with the caller's id.
    TimerSet(QObject* owner, std::function<void(unsigned)> onTimer);
    ~TimerSet();

    // Both may be called from any thread; the timer itself lives on the
    // owner's thread. Setting an id that runs restarts it with the new period.
    void SetTimer(unsigned id, int milliseconds);
    void KillTimer(unsigned id);
    bool IsActive(unsigned id) const;

    // To be called from the owner's timerEvent; returns true when the Qt
    // timer id belonged to this set.
    bool Dispatch(int qtTimerId);

private:
    void SetOnOwnerThread(unsigned id, int milliseconds);
    void KillOnOwnerThread(unsigned id);

    QObject* owner_;
    std::function<void(unsigned)> onTimer_;
    mutable std::mutex mutex_;
    std::map<unsigned, int> qtIds_;
};

} // namespace platform
