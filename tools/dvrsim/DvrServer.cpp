#include "DvrServer.h"

#include <sys/socket.h>

namespace dvrsim {

DvrServer::~DvrServer()
{
    for (auto& c : connections_)
        c->requestStop();
    connections_.clear();  // each destructor joins its threads
}

bool DvrServer::listen(std::string& error)
{
    listener_ = listenOn(ctx_.options.bindAddress, ctx_.options.port, error);
    if (!listener_.valid())
        return false;
    port_ = boundPort(listener_.fd());
    return port_ > 0;
}

void DvrServer::reapFinished()
{
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->finished())
            it = connections_.erase(it);
        else
            ++it;
    }
}

void DvrServer::run(const std::atomic<bool>& stop)
{
    while (!stop) {
        const IoResult r = waitReadable(listener_.fd(), stop, 200);
        reapFinished();
        if (r != IoResult::Ok)
            continue;
        Socket client(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.valid())
            continue;
        const int number = nextNumber_++;
        if (static_cast<int>(connections_.size()) >= ctx_.options.maxClients) {
            ctx_.log.line("CONNECT " + peerName(client.fd()) + " #" + std::to_string(number));
            ctx_.log.line("CLOSE too-many-clients #" + std::to_string(number));
            continue;
        }
        connections_.push_back(std::make_unique<DvrConnection>(ctx_, std::move(client), number));
        connections_.back()->start();
    }
    for (auto& c : connections_)
        c->requestStop();
    connections_.clear();
}

}  // namespace dvrsim
