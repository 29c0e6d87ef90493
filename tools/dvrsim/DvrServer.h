// The DVR's listening socket: one DvrConnection per client, reaped as they end.
#pragma once

#include "DvrConnection.h"
#include "SimContext.h"
#include "SocketIo.h"

#include <atomic>
#include <list>
#include <memory>
#include <string>

namespace dvrsim {

class DvrServer {
public:
    explicit DvrServer(SimContext& context) : ctx_(context) {}
    ~DvrServer();
    bool listen(std::string& error);
    int port() const { return port_; }
    // Accepts clients until `stop` is set, then ends and joins every connection.
    void run(const std::atomic<bool>& stop);

private:
    void reapFinished();

    SimContext& ctx_;
    Socket listener_;
    int port_ = 0;
    int nextNumber_ = 1;
    std::list<std::unique_ptr<DvrConnection>> connections_;
};

}  // namespace dvrsim
