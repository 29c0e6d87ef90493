#pragma once
// The connection to the address lookup service. It lives on the control's
// thread and turns socket readiness into the control's window messages.
#include "CDvrSocket.h"
#include "LookupMessage.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <memory>

namespace vyrdax {

class CLookupSocket : public QObject {
public:
    CLookupSocket() = default;
    ~CLookupSocket() override;

    void SetNotify(QObject* owner, uint32_t connectMessage, uint32_t closeMessage, uint32_t receiveMessage);
    // Creates a fresh socket; the created flag.
    bool CreateSocket();
    // Starts connecting; the connect message follows only on success.
    bool Connect(const std::string& host, uint16_t port);
    void Close();

    // Scrambles nothing: `message` is the whole message as built.
    bool SendPacket(const std::vector<uint8_t>& message);
    // Reads one message into `buffer` (kLookupBufferSize bytes): header, the
    // unscrambled payload and a zero byte behind it. False when it cannot be
    // read whole, is longer than the buffer allows, or lacks the magic.
    bool ReceivePacket(uint8_t* buffer, bool unscramble);

    bool Created() const { return created_; }
    bool Connected() const { return connected_; }

private:
    void OnWritable();
    void OnReadable();

    bool created_ = false;
    bool connected_ = false;
    QPointer<QObject> owner_;
    uint32_t connectMessage_ = 0, closeMessage_ = 0, receiveMessage_ = 0;
    std::unique_ptr<CDvrSocket> socket_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
};

} // namespace vyrdax
