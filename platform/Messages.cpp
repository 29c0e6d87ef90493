#include "Messages.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform {

namespace {

const QEvent::Type kPostedType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kSentType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct SyncCall {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    LRESULT result = 0;

    void Finish(LRESULT r)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!finished) {
            finished = true;
            result = r;
        }
        done.notify_all();
    }
};

class MessageEvent : public QEvent {
public:
    MessageEvent(QEvent::Type type, uint32_t m, WPARAM w, LPARAM l, std::shared_ptr<SyncCall> call = {})
        : QEvent(type), message(m), wParam(w), lParam(l), sync(std::move(call))
    {
    }
    // An event discarded unhandled (its receiver was destroyed) still
    // releases the sender.
    ~MessageEvent() override
    {
        if (sync)
            sync->Finish(0);
    }

    uint32_t message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    std::shared_ptr<SyncCall> sync;
};

} // namespace

bool HandleMessageEvent(QEvent* event, MessageReceiver* receiver)
{
    if (event->type() != kPostedType && event->type() != kSentType)
        return false;
    auto* m = static_cast<MessageEvent*>(event);
    m->result = receiver->OnMessage(m->message, m->wParam, m->lParam);
    if (m->sync)
        m->sync->Finish(m->result);
    return true;
}

void PostMessage(QObject* target, uint32_t message, WPARAM wParam, LPARAM lParam)
{
    if (!target)
        return;
    QCoreApplication::postEvent(target, new MessageEvent(kPostedType, message, wParam, lParam));
}

LRESULT SendMessage(QObject* target, uint32_t message, WPARAM wParam, LPARAM lParam,
                    const std::atomic<bool>* stop)
{
    if (!target)
        return 0;
    if (target->thread() == QThread::currentThread()) {
        MessageEvent event(kPostedType, message, wParam, lParam);
        QCoreApplication::sendEvent(target, &event);
        return event.result;
    }
    if (stop && stop->load())
        return 0;
    auto call = std::make_shared<SyncCall>();
    QCoreApplication::postEvent(target, new MessageEvent(kSentType, message, wParam, lParam, call),
                                Qt::HighEventPriority);
    std::unique_lock<std::mutex> lock(call->mutex);
    // Wakes at a short period to look at the stop flag; the flag's owner
    // cannot signal this condition variable.
    while (!call->finished) {
        if (stop && stop->load())
            return 0;
        call->done.wait_for(lock, std::chrono::milliseconds(5));
    }
    return call->result;
}

void ServeSentMessages()
{
    QCoreApplication::sendPostedEvents(nullptr, kSentType);
}

} // namespace platform
