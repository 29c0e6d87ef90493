// The address lookup service: answers "request DVR IP" (code 4) with the
// simulated DVR's address and port, or with the configured refusal.
#pragma once

#include "SimContext.h"
#include "SocketIo.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace dvrsim {

class LookupServer {
public:
    explicit LookupServer(SimContext& context) : ctx_(context) {}
    ~LookupServer();
    bool listen(std::string& error);
    int port() const { return port_; }
    void start(const std::atomic<bool>& stop);
    void join();

    // The reply to one request whose payload is already unscrambled; public
    // for the tests of the message layout.
    std::vector<std::uint8_t> answer(std::uint8_t code, const std::vector<std::uint8_t>& payload);

private:
    void run(const std::atomic<bool>& stop);
    void serveClient(int fd, const std::atomic<bool>& stop);
    std::uint8_t errorFor(const std::string& id, const std::string& password) const;

    SimContext& ctx_;
    Socket listener_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace dvrsim
