#include "MessageHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <thread>

namespace testsupport {

bool PumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done())
            return true;
        if (clock.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}

platform::LRESULT MessageHost::OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    messages.push_back({message, static_cast<long>(static_cast<intptr_t>(wParam)), static_cast<long>(lParam),
                        std::chrono::steady_clock::now()});
    if (onMessage)
        onMessage(messages.back());
    if (handlerDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(handlerDelayMs));
    return 0;
}

std::vector<MessageHost::Entry> MessageHost::Of(uint32_t message, long wParam) const
{
    std::vector<Entry> found;
    for (const auto& e : messages)
        if (e.message == message && (wParam == -1 || e.wParam == wParam))
            found.push_back(e);
    return found;
}

std::vector<int> MessageHost::LParams(uint32_t message) const
{
    std::vector<int> found;
    for (const auto& e : Of(message))
        found.push_back(static_cast<int>(e.lParam));
    return found;
}

bool MessageHost::event(QEvent* e)
{
    return platform::HandleMessageEvent(e, this) || QWidget::event(e);
}

} // namespace testsupport
