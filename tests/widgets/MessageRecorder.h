#pragma once
#include "platform/Messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <vector>

// A parent window that keeps every window message it is sent.
class MessageRecorder : public QWidget, public platform::MessageReceiver {
public:
    struct Message {
        uint32_t message;
        platform::WPARAM wParam;
        platform::LPARAM lParam;
    };

    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override
    {
        messages.push_back({message, wParam, lParam});
        return 0;
    }

    // Delivers what has been posted so far and hands it over.
    std::vector<Message> Take()
    {
        QCoreApplication::sendPostedEvents(this);
        std::vector<Message> taken;
        taken.swap(messages);
        return taken;
    }

    std::vector<Message> messages;

protected:
    bool event(QEvent* e) override
    {
        if (platform::HandleMessageEvent(e, this))
            return true;
        return QWidget::event(e);
    }
};
