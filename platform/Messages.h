#pragma once
// Window messages between widgets and threads: a message number with two
// parameters, posted (queued, order kept) or sent (synchronous answer).
#include <QEvent>
#include <QObject>

#include <atomic>
#include <cstdint>

namespace platform {

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr uint32_t WM_USER = 0x0400;

// Implemented by every widget that takes window messages; its event() passes
// message events to HandleMessageEvent.
class MessageReceiver {
public:
    virtual ~MessageReceiver() = default;
    virtual LRESULT OnMessage(uint32_t message, WPARAM wParam, LPARAM lParam) = 0;
};

// Returns true when `event` was a message event and has been handled.
bool HandleMessageEvent(QEvent* event, MessageReceiver* receiver);

// Queued delivery on the receiver's thread; safe from any thread.
void PostMessage(QObject* target, uint32_t message, WPARAM wParam, LPARAM lParam);

// Synchronous delivery. On the receiver's own thread the handler runs at
// once. From another thread the caller blocks until the receiver's thread has
// handled it, and gives up (returning 0) as soon as `stop` is set, so that a
// thread being joined is never held by its own message.
LRESULT SendMessage(QObject* target, uint32_t message, WPARAM wParam, LPARAM lParam,
                    const std::atomic<bool>* stop = nullptr);

// Handles the synchronous messages that other threads are waiting on; a
// thread that blocks for a worker calls this so the worker can finish.
void ServeSentMessages();

} // namespace platform
