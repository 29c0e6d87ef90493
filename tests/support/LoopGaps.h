#pragma once
// How long the GUI thread's event loop went without turning: what an
// operator feels as a window that does not answer.
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace testsupport {

class LoopGaps {
public:
    explicit LoopGaps(int periodMs = 20)
    {
        clock_.start();
        timer_.setInterval(periodMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        timer_.start();
    }
    // The longest gap in ms so far, the one still open included.
    qint64 Longest() const { return std::max(longest_, clock_.elapsed() - last_); }
    // The test held the loop itself until now (starting a simulator, say):
    // that wait is the test's, not the window's.
    void Resume() { last_ = clock_.elapsed(); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

} // namespace testsupport
