#pragma once
// How long the GUI thread's event loop went without turning: what an
// operator feels as a window that does not answer.
//
// A loaded machine stretches every gap: the thread waits for a processor as
// long as the machine makes it. What the window promises is that no call on
// it waits on anything else, such as a DVR that says nothing or a thread
// that does: the time it slept within a gap, the time it spent ready to run
// and the time it ran taken away. The kernel's account of the thread
// (schedstat) tells the three apart. A virtual machine its host holds back
// stops every thread at once, which shows as sleep too: a tenth of a second
// at a time on a loaded machine here.
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <fstream>

namespace testsupport {

class LoopGaps {
public:
    explicit LoopGaps(int periodMs = 20)
    {
        clock_.start();
        last_ = Sample();
        timer_.setInterval(periodMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const Point now = Sample();
            longest_ = std::max(longest_, now.wallMs - last_.wallMs);
            longestAsleep_ = std::max(longestAsleep_, Asleep(last_, now));
            last_ = now;
        });
        timer_.start();
    }
    // The longest gap in ms so far, the one still open included.
    qint64 Longest() const { return std::max(longest_, clock_.elapsed() - last_.wallMs); }
    // The longest time in ms the loop's thread slept within one gap, the
    // open one included: call it on that thread. The loop's own wait for
    // its next timer is part of it, up to the timer's period.
    qint64 LongestAsleep() const { return std::max(longestAsleep_, Asleep(last_, Sample())); }
    // The test held the loop itself until now (starting a simulator, say):
    // that wait is the test's, not the window's.
    void Resume() { last_ = Sample(); }

private:
    struct Point {
        qint64 wallMs = 0;
        int64_t ranNs = 0, readyNs = 0;
    };
    Point Sample() const
    {
        Point p;
        p.wallMs = clock_.elapsed();
        std::ifstream stat("/proc/thread-self/schedstat");
        stat >> p.ranNs >> p.readyNs;
        return p;
    }
    static qint64 Asleep(const Point& from, const Point& to)
    {
        const int64_t busyNs = (to.ranNs - from.ranNs) + (to.readyNs - from.readyNs);
        return std::max<qint64>(0, to.wallMs - from.wallMs - busyNs / 1000000);
    }

    QTimer timer_;
    QElapsedTimer clock_;
    Point last_;
    qint64 longest_ = 0;
    qint64 longestAsleep_ = 0;
};

} // namespace testsupport
