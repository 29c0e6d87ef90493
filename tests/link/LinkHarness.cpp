#include "LinkHarness.h"

#include "control/StatusTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace linktest {

namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int BoundPort(int fd)
{
    sockaddr_in a{};
    socklen_t size = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    return ntohs(a.sin_port);
}

int ListenOnLoopback(int backlog, int* port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *port = BoundPort(fd);
    return fd;
}

} // namespace

// ---- dvrsim -----------------------------------------------------------------

bool SimDvr::Start(std::vector<std::string> args, int port)
{
    bool keepalive = false;
    for (const auto& a : args)
        keepalive = keepalive || a == "--keepalive";
    if (!keepalive) // the tests' data time-out is 3 s: idle sessions need a sign of life sooner
        args.insert(args.end(), {"--keepalive", "1"});
    if (port != 0)
        args.insert(args.end(), {"--port", std::to_string(port)});
    std::string error;
    if (!sim_.start(args, &error)) {
        std::fprintf(stderr, "dvrsim did not start: %s\n", error.c_str());
        return false;
    }
    return port == 0 || sim_.port() == port;
}

bool SimDvr::Stop()
{
    if (sim_.stop())
        return true;
    sim_.kill();
    return false;
}

std::vector<std::string> SimDvr::LogLines(const std::string& text) const
{
    std::vector<std::string> found;
    for (const auto& line : Log())
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

bool SimDvr::WaitLog(const std::string& text, int count, int ms) const
{
    return PumpUntil([&] { return Count(text) >= count; }, ms);
}

// ---- fake DVR -----------------------------------------------------------------

FakeDvr::FakeDvr(Mode mode, uint32_t replyCode, uint32_t rightAndSignal, uint32_t dvrType)
    : mode_(mode), replyCode_(replyCode), rightAndSignal_(rightAndSignal), dvrType_(dvrType)
{
    listenFd_ = ListenOnLoopback(8, &port_);
    if (listenFd_ >= 0)
        thread_ = std::thread([this] { Serve(); });
}

FakeDvr::~FakeDvr()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    for (int fd : clients_)
        close(fd);
    if (listenFd_ >= 0)
        close(listenFd_);
}

std::array<uint8_t, 76> FakeDvr::LastLogin() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return lastLogin_;
}

void FakeDvr::Serve()
{
    std::vector<std::pair<int, std::vector<uint8_t>>> pending; // clients still sending their login
    while (!stop_) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
        for (auto& p : pending)
            fds.push_back({p.first, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                pending.push_back({client, {}});
                std::lock_guard<std::mutex> lock(lock_);
                clients_.push_back(client);
            }
        }
        for (std::size_t k = 1; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            auto it = std::find_if(pending.begin(), pending.end(), [&](auto& p) { return p.first == fds[k].fd; });
            if (it == pending.end())
                continue;
            uint8_t buffer[76];
            const ssize_t n = recv(it->first, buffer, 76 - it->second.size(), 0);
            if (n <= 0) {
                pending.erase(it);
                continue;
            }
            it->second.insert(it->second.end(), buffer, buffer + n);
            if (it->second.size() < 76)
                continue;
            {
                std::lock_guard<std::mutex> lock(lock_);
                std::copy(it->second.begin(), it->second.end(), lastLogin_.begin());
            }
            ++logins_;
            if (mode_ == Mode::Reply) {
                uint8_t reply[76] = {1, 2, 3, 4, 5, 6, 7, 8};
                auto put = [&](int at, uint32_t v) {
                    for (int b = 0; b < 4; ++b)
                        reply[at + b] = static_cast<uint8_t>(v >> (8 * b));
                };
                put(8, 1);
                put(12, replyCode_);
                put(32, rightAndSignal_);
                put(40, dvrType_);
                send(it->first, reply, sizeof reply, MSG_NOSIGNAL);
            }
            pending.erase(it); // the link stays open, silent
        }
    }
}

BlackholePort::BlackholePort()
{
    listenFd_ = ListenOnLoopback(0, &port_);
    if (listenFd_ < 0)
        return;
    // Backlog 0 holds one connection; while the queue is full Linux drops
    // further SYNs, so a connect attempt neither succeeds nor is refused.
    for (int k = 0; k < 3; ++k) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(port_);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers_.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Proof: one more connect stays pending.
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port_);
    connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
    pollfd p{probe, POLLOUT, 0};
    ready_ = poll(&p, 1, 300) == 0;
    close(probe);
}

BlackholePort::~BlackholePort()
{
    for (int fd : fillers_)
        close(fd);
    if (listenFd_ >= 0)
        close(listenFd_);
}

std::string Bare(const std::string& line)
{
    return line.substr(0, line.rfind(" #"));
}

std::vector<std::string> Bare(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(Bare(l));
    return out;
}

int ClosedPort()
{
    int port = 0;
    const int fd = ListenOnLoopback(1, &port);
    close(fd); // nothing listens there any more
    return port;
}

// ---- host and fixture -----------------------------------------------------------

void LinkTest::SetUp()
{
    previousBoxes_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
        std::lock_guard<std::mutex> lock(boxesLock);
        boxes.push_back(text);
        return platform::IDOK;
    });
    ctrl = new vyrdax::CVyrdaxCtrl(&host);
    ctrl->setDispChannel(16);
}

void LinkTest::TearDown()
{
    if (ctrl)
        DestroyControl();
    platform::SetMessageBoxHandler(previousBoxes_);
}

void LinkTest::Bind(int ch, const std::string& name, int displayIndex, int port, const std::string& address,
                    const std::string& id, const std::string& password)
{
    ctrl->SetConnectInfo(name, id, password, "", address, static_cast<int16_t>(port), 0, static_cast<int16_t>(ch + 1),
                         0, static_cast<int16_t>(displayIndex));
}

bool LinkTest::WaitMessage(uint32_t message, long wParam, int count, int ms)
{
    return PumpUntil([&] { return host.Count(message, wParam) >= count; }, ms);
}

QString LinkTest::Title(int ch) const
{
    vyrdax::CVideoPane* pane = ctrl->Pane(ch);
    return pane ? pane->LeftTitle()->Title() : QString();
}

bool LinkTest::WaitTitle(int ch, const QString& text, int ms)
{
    return PumpUntil([&] { return Title(ch) == text; }, ms);
}

std::chrono::milliseconds LinkTest::DestroyControl()
{
    const auto start = std::chrono::steady_clock::now();
    delete ctrl;
    ctrl = nullptr;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

} // namespace linktest
