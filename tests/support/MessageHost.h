#pragma once
// What the control's tests share: a host window that records every window
// message the control sends it, and an event loop to run until something
// happens.
#include "platform/Messages.h"

#include <QWidget>

#include <chrono>
#include <functional>
#include <vector>

namespace testsupport {

// Runs the Qt event loop (and so the control's sockets, timers and the
// messages its threads send) until `done` holds or `ms` pass.
bool PumpUntil(const std::function<bool()>& done, int ms);
void PumpFor(int ms);

class MessageHost : public QWidget, public platform::MessageReceiver {
public:
    struct Entry {
        uint32_t message;
        long wParam, lParam;
        std::chrono::steady_clock::time_point at{};
        // Compares what was sent, not when.
        bool operator==(const Entry& o) const
        {
            return message == o.message && wParam == o.wParam && lParam == o.lParam;
        }
    };

    MessageHost() { resize(800, 600); }
    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

    // Entries of `message` (with `wParam` unless it is -1).
    std::vector<Entry> Of(uint32_t message, long wParam = -1) const;
    int Count(uint32_t message, long wParam = -1) const { return static_cast<int>(Of(message, wParam).size()); }
    // The lParams of every `message`, in order.
    std::vector<int> LParams(uint32_t message) const;

    std::vector<Entry> messages;
    // Milliseconds each message handler takes: lets a test keep the
    // receive thread waiting on the host.
    int handlerDelayMs = 0;
    // Runs inside the handler, while the sender still waits.
    std::function<void(const Entry&)> onMessage;

protected:
    bool event(QEvent* e) override;
};

} // namespace testsupport
