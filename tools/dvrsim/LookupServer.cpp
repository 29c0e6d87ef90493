#include "LookupServer.h"

#include <sys/socket.h>

#include <algorithm>

namespace dvrsim {

namespace {

// A lookup client sends one short request; a slow one is not waited for long.
constexpr int kClientIdleMs = 5000;
constexpr int kPayloadMs = 2000;

}  // namespace

LookupServer::~LookupServer()
{
    join();
}

bool LookupServer::listen(std::string& error)
{
    listener_ = listenOn(ctx_.options.bindAddress, ctx_.options.lookupPort, error);
    if (!listener_.valid())
        return false;
    port_ = boundPort(listener_.fd());
    return port_ > 0;
}

void LookupServer::start(const std::atomic<bool>& stop)
{
    thread_ = std::thread([this, &stop] { run(stop); });
}

void LookupServer::join()
{
    if (thread_.joinable())
        thread_.join();
}

void LookupServer::run(const std::atomic<bool>& stop)
{
    while (!stop) {
        if (waitReadable(listener_.fd(), stop, 200) != IoResult::Ok)
            continue;
        Socket client(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
        if (client.valid())
            serveClient(client.fd(), stop);
    }
}

std::uint8_t LookupServer::errorFor(const std::string& id, const std::string& password) const
{
    const std::string& forced = ctx_.options.lookupError;
    if (forced == "busy")
        return lookup::kErrorBusy;
    if (forced == "badpw")
        return lookup::kErrorBadPassword;
    if (forced == "noid")
        return lookup::kErrorNoId;
    if (forced == "error")
        return lookup::kErrorNotReady;
    if (id != cutTo(ctx_.options.dvrId, 8))
        return lookup::kErrorNoId;
    if (password != cutTo(ctx_.options.password, 8))
        return lookup::kErrorBadPassword;
    return lookup::kErrorNone;
}

std::vector<std::uint8_t> LookupServer::answer(std::uint8_t code, const std::vector<std::uint8_t>& payload)
{
    std::string id, password;
    std::uint8_t error = lookup::kErrorInvalidMessage;
    if (code == lookup::kRequestDvrAddress && payload.size() >= 16) {
        id = fixedText(payload.data(), 8);
        password = fixedText(payload.data() + 8, 8);
        error = errorFor(id, password);
    }
    ctx_.log.line("LOOKUP " + std::to_string(code) + " " + escapedText(id) + " " + escapedText(password) +
                  " " + std::to_string(error));

    std::vector<std::uint8_t> body;
    if (error == lookup::kErrorNone) {
        std::uint8_t address[4] = {127, 0, 0, 1};
        const std::string& bound = ctx_.options.bindAddress;
        if (bound != "0.0.0.0")
            parseIPv4(bound, address);
        const std::string name = cutTo(ctx_.options.dvrId, 255);
        body.assign(address, address + 4);
        body.push_back(0);
        body.push_back(static_cast<std::uint8_t>(ctx_.dvrPort & 0xFF));
        body.push_back(static_cast<std::uint8_t>(ctx_.dvrPort >> 8));
        body.push_back(static_cast<std::uint8_t>(name.size()));
        body.insert(body.end(), name.begin(), name.end());
        lookup::scramble(body.data(), body.size());
    }
    std::vector<std::uint8_t> reply(lookup::kHeaderSize + body.size());
    putU16(&reply[0], lookup::kMagic);
    reply[2] = code;
    reply[3] = error;
    putU16(&reply[4], static_cast<std::uint16_t>(body.size()));
    std::copy(body.begin(), body.end(), reply.begin() + lookup::kHeaderSize);
    return reply;
}

void LookupServer::serveClient(int fd, const std::atomic<bool>& stop)
{
    for (;;) {
        std::uint8_t header[lookup::kHeaderSize];
        if (receiveAll(fd, header, sizeof header, stop, kClientIdleMs, kPayloadMs) != IoResult::Ok)
            return;
        const std::uint16_t length = getU16(&header[4]);
        if (getU16(&header[0]) != lookup::kMagic || length > lookup::kMaxPayload) {
            ctx_.log.line("LOOKUP BAD-MESSAGE");
            return;
        }
        std::vector<std::uint8_t> payload(length);
        if (length > 0 &&
            receiveAll(fd, payload.data(), payload.size(), stop, kPayloadMs, kPayloadMs) != IoResult::Ok)
            return;
        lookup::scramble(payload.data(), payload.size());
        const std::vector<std::uint8_t> reply = answer(header[2], payload);
        if (sendAll(fd, reply.data(), reply.size(), stop, kPayloadMs) != IoResult::Ok)
            return;
    }
}

}  // namespace dvrsim
