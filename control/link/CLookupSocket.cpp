#include "CLookupSocket.h"

#include "platform/Messages.h"

#include <sys/socket.h>

namespace vyrdax {

namespace {
// A reply comes in one piece from a service on the same network; this only
// bounds a peer that sends half a message.
constexpr int kReadTimeoutMs = 2000;
} // namespace

CLookupSocket::~CLookupSocket() { Close(); }

void CLookupSocket::SetNotify(QObject* owner, uint32_t connectMessage, uint32_t closeMessage, uint32_t receiveMessage)
{
    owner_ = owner;
    connectMessage_ = connectMessage;
    closeMessage_ = closeMessage;
    receiveMessage_ = receiveMessage;
}

bool CLookupSocket::CreateSocket()
{
    Close();
    socket_ = std::make_unique<CDvrSocket>();
    created_ = true;
    return created_;
}

bool CLookupSocket::Connect(const std::string& host, uint16_t port)
{
    if (!created_ || !socket_)
        return false;
    if (socket_->StartConnect(host, port) != 0)
        return false;
    writeNotifier_ = std::make_unique<QSocketNotifier>(socket_->Fd(), QSocketNotifier::Write);
    QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, this, [this] { OnWritable(); });
    return true;
}

void CLookupSocket::Close()
{
    writeNotifier_.reset();
    readNotifier_.reset();
    socket_.reset();
    created_ = false;
    connected_ = false;
}

void CLookupSocket::OnWritable()
{
    writeNotifier_->setEnabled(false);
    const int error = socket_ ? socket_->ConnectResult() : WSAEGENERIC;
    connected_ = error == 0;
    if (!connected_)
        return; // a failed connection sends no notice; the lookup timer retries
    readNotifier_ = std::make_unique<QSocketNotifier>(socket_->Fd(), QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    platform::PostMessage(owner_, connectMessage_, 0, 0);
}

void CLookupSocket::OnReadable()
{
    // Peeks so that a closed connection is told apart from a message.
    char probe;
    const ssize_t n = recv(socket_->Fd(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    readNotifier_->setEnabled(false);
    platform::PostMessage(owner_, n > 0 ? receiveMessage_ : closeMessage_, 0, 0);
}

bool CLookupSocket::SendPacket(const std::vector<uint8_t>& message)
{
    return socket_ && socket_->SendExact(message.data(), message.size(), kReadTimeoutMs);
}

bool CLookupSocket::ReceivePacket(uint8_t* buffer, bool unscramble)
{
    if (!socket_ || !socket_->ReceiveExact(buffer, kLookupHeaderSize, kReadTimeoutMs))
        return false;
    const LookupHeader h = ReadLookupHeader(buffer);
    if (h.length > kLookupMaxPayload)
        return false;
    uint8_t* payload = buffer + kLookupHeaderSize;
    if (h.length > 0 && !socket_->ReceiveExact(payload, h.length, kReadTimeoutMs))
        return false;
    if (unscramble) {
        ScrambleLookupPayload(payload, h.length);
        payload[h.length] = 0;
    }
    return h.magic == kLookupMagic;
}

} // namespace vyrdax
