#include "LinkHarness.h"

#include "control/StatusTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <deque>
#include <arpa/inet.h>
#include <cerrno>
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

} // namespace

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

FakeDvr::FakeDvr(Mode mode, uint32_t replyCode, uint32_t rightAndSignal, uint32_t dvrType, int signOfLifeMs)
    : FakeDvr(mode, replyCode, rightAndSignal, dvrType, signOfLifeMs, nullptr)
{
}

FakeDvr::FakeDvr(Scripts scripts) : FakeDvr(Mode::Hostile, 0, 0, 0, 0, std::move(scripts)) {}

FakeDvr::FakeDvr(Mode mode, uint32_t replyCode, uint32_t rightAndSignal, uint32_t dvrType, int signOfLifeMs,
                 Scripts scripts)
    : mode_(mode), scripts_(std::move(scripts)), replyCode_(replyCode), rightAndSignal_(rightAndSignal),
      dvrType_(dvrType), signOfLifeMs_(signOfLifeMs)
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

std::vector<FakeDvr::Session> FakeDvr::Sessions() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return sessions_;
}

namespace {

uint32_t Word(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutWord(uint8_t* p, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        p[b] = static_cast<uint8_t>(v >> (8 * b));
}

} // namespace

Bytes Header(uint32_t type, uint32_t code)
{
    Bytes h(vyrdax::DvrPacketHeader::kSize, 0);
    for (int b = 0; b < 8; ++b)
        h[b] = static_cast<uint8_t>(b + 1);
    PutWord(&h[8], type);
    PutWord(&h[12], code);
    return h;
}

const std::vector<dvrsim::EncodedFrame>& RealFrames()
{
    static const std::vector<dvrsim::EncodedFrame> frames = [] {
        dvrsim::LoopSettings settings;
        settings.width = kRealFrameWidth;
        settings.height = kRealFrameHeight;
        settings.gop = 5;
        settings.loopFrames = 10;
        std::vector<dvrsim::EncodedFrame> out;
        std::string error;
        EXPECT_TRUE(dvrsim::encodeChannelLoop(settings, 0, out, error)) << error;
        return out;
    }();
    return frames;
}

Bytes VideoPacket(const Video& v, uint32_t length)
{
    Bytes h = Header(vyrdax::PACKET_VIDEO, length);
    PutWord(&h[16], v.frameType);
    PutWord(&h[20], v.streamWord);
    PutWord(&h[24], v.events);
    PutWord(&h[28], v.titleForm);
    PutWord(&h[32], v.channel);
    PutWord(&h[36], v.width);
    PutWord(&h[40], v.height);
    PutWord(&h[44], v.interlace);
    PutWord(&h[52], v.intervalCode);
    h[56] = v.year;
    h[57] = v.month;
    h[58] = v.day;
    h[59] = v.hour;
    PutWord(&h[60], v.seconds);
    PutWord(&h[64], v.micro);
    PutWord(&h[68], v.titleTime);
    h[72] = v.minute;
    h[73] = v.second;
    h[74] = v.status;
    h.insert(h.end(), v.payload.begin(), v.payload.end());
    return h;
}

// A logged-in connection the DVR watches.
struct FakeDvr::Watched {
    int fd = -1;
    std::size_t session = 0;
    std::vector<uint8_t> header; // a packet header not yet whole
    uint32_t skip = 0;           // payload bytes still to read past
    bool heard = false;          // the control's first packet is in
    bool open = true;
    Clock::time_point nextSend{};
    // Hostile: the steps still to come, what of the current one is still to
    // go out, how it ends, and when the next one is due.
    std::deque<HostileStep> steps;
    std::vector<uint8_t> out;
    std::size_t outAt = 0;
    HostileStep::End ending = HostileStep::End::None;
    Clock::time_point due{};
    bool Sending() const { return outAt < out.size(); }
};

void FakeDvr::SendSignOfLife(Watched& client)
{
    uint8_t packet[76] = {1, 2, 3, 4, 5, 6, 7, 8};
    PutWord(packet + 8, 5);  // a control reply
    PutWord(packet + 12, 1); // that nothing follows
    const Clock::time_point before = Clock::now();
    if (send(client.fd, packet, sizeof packet, MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(sizeof packet))
        return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        Session& session = sessions_[client.session];
        session.longestGap = std::max(session.longestGap, before - session.lastSent);
        session.lastSent = before;
        ++session.sent;
    }
    client.nextSend = before + std::chrono::milliseconds(signOfLifeMs_);
}

void FakeDvr::Read(Watched& client)
{
    uint8_t buffer[4096];
    const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
    const Clock::time_point at = Clock::now();
    auto end = [&](bool byLogout) {
        client.open = false;
        std::lock_guard<std::mutex> lock(lock_);
        Session& session = sessions_[client.session];
        session.ended = true;
        session.endedAt = at;
        session.byLogout = byLogout;
    };
    if (n <= 0) {
        end(false);
        return;
    }
    for (ssize_t k = 0; k < n && client.open;) {
        if (client.skip > 0) {
            const auto step = std::min<ssize_t>(client.skip, n - k);
            client.skip -= static_cast<uint32_t>(step);
            k += step;
            continue;
        }
        client.header.push_back(buffer[k++]);
        if (client.header.size() < 76)
            continue;
        const uint32_t type = Word(client.header.data() + 8);
        const uint32_t code = Word(client.header.data() + 12);
        client.header.clear();
        if (type == 1 && code == 2) {
            end(true);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(lock_);
            sessions_[client.session].lastHeard = at;
        }
        if (type == 3) // a microphone block follows its header
            client.skip = code;
        if (type == 5) {
            std::lock_guard<std::mutex> lock(lock_);
            sessions_[client.session].commands.push_back(code);
        }
        if (!client.heard) {
            client.heard = true;
            if (mode_ == Mode::Watch)
                SendSignOfLife(client);
        }
    }
}

void FakeDvr::EndByDvr(Watched& client, HostileStep::End end)
{
    client.ending = HostileStep::End::None;
    std::lock_guard<std::mutex> lock(lock_);
    Session& session = sessions_[client.session];
    session.byDvr = true;
    if (end == HostileStep::End::Close) {
        // Only our side: what the control still sends is read, and its own
        // close ends the session.
        shutdown(client.fd, SHUT_WR);
        return;
    }
    linger hard{1, 0};
    setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(client.fd);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client.fd), clients_.end());
    client.fd = -1;
    client.open = false;
    session.ended = true;
    session.endedAt = Clock::now();
}

void FakeDvr::PlayScript(Watched& client)
{
    while (client.open) {
        if (client.Sending()) {
            const ssize_t n = send(client.fd, client.out.data() + client.outAt, client.out.size() - client.outAt,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                client.outAt += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return; // on when the control has read more
            // The control has gone: the rest has nobody to go to.
            client.steps.clear();
            client.out.clear();
            client.ending = HostileStep::End::None;
            return;
        }
        if (client.ending != HostileStep::End::None) {
            EndByDvr(client, client.ending);
            return;
        }
        if (client.steps.empty() || Clock::now() < client.due)
            return;
        const HostileStep& next = client.steps.front();
        const Clock::time_point now = Clock::now();
        {
            std::lock_guard<std::mutex> lock(lock_);
            Session& session = sessions_[client.session];
            if (next.afterCommand &&
                std::find(session.commands.begin(), session.commands.end(), *next.afterCommand) ==
                    session.commands.end())
                return;
            session.longestGap = std::max(session.longestGap, now - session.lastSent);
            session.lastSent = now;
            ++session.sent;
        }
        client.out = next.bytes;
        client.outAt = 0;
        client.ending = next.end;
        client.steps.pop_front();
        client.due = now + std::chrono::milliseconds(client.steps.empty() ? 0 : client.steps.front().delayMs);
    }
}

void FakeDvr::Answer(int fd, Clock::time_point before, std::vector<Watched>& watched)
{
    HostileScript script;
    if (mode_ == Mode::Hostile) {
        script = scripts_(logins_.load() - 1);
    } else {
        script.loginReply.assign(76, 0);
        uint8_t* reply = script.loginReply.data();
        for (int b = 0; b < 8; ++b)
            reply[b] = static_cast<uint8_t>(b + 1);
        PutWord(reply + 8, 1);
        PutWord(reply + 12, replyCode_);
        PutWord(reply + 32, rightAndSignal_);
        PutWord(reply + 40, dvrType_);
    }
    if (!script.loginReply.empty())
        send(fd, script.loginReply.data(), script.loginReply.size(), MSG_NOSIGNAL);
    if (mode_ != Mode::Watch && mode_ != Mode::Hostile)
        return; // the link stays open, silent
    Watched w;
    w.fd = fd;
    w.steps.assign(script.steps.begin(), script.steps.end());
    w.due = before + std::chrono::milliseconds(w.steps.empty() ? 0 : w.steps.front().delayMs);
    std::lock_guard<std::mutex> lock(lock_);
    w.session = sessions_.size();
    Session session;
    session.lastSent = before;
    sessions_.push_back(session);
    watched.push_back(std::move(w));
}

void FakeDvr::Serve()
{
    std::vector<std::pair<int, std::vector<uint8_t>>> pending; // clients still sending their login
    std::vector<Watched> watched;
    while (!stop_) {
        int waitMs = 20;
        auto waitUntil = [&](Clock::time_point due) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
            waitMs = static_cast<int>(std::clamp<int64_t>(left, 0, waitMs));
        };
        for (const Watched& w : watched) {
            if (w.open && w.heard && signOfLifeMs_ > 0)
                waitUntil(w.nextSend);
            if (w.open && !w.Sending() && !w.steps.empty())
                waitUntil(w.due);
        }
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
        for (auto& p : pending)
            fds.push_back({p.first, POLLIN, 0});
        for (const Watched& w : watched)
            fds.push_back({w.open ? w.fd : -1, static_cast<short>(POLLIN | (w.Sending() ? POLLOUT : 0)), 0});
        const std::size_t polledPending = pending.size(), polledWatched = watched.size();
        const int ready = poll(fds.data(), fds.size(), waitMs);
        for (Watched& w : watched)
            if (w.open && w.heard && signOfLifeMs_ > 0 && Clock::now() >= w.nextSend)
                SendSignOfLife(w);
        for (std::size_t k = 0; k < polledWatched; ++k)
            if (watched[k].open && (fds[1 + polledPending + k].revents & (POLLIN | POLLHUP | POLLERR)))
                Read(watched[k]);
        if (mode_ == Mode::Hostile)
            for (Watched& w : watched)
                PlayScript(w);
        if (ready <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                pending.push_back({client, {}});
                std::lock_guard<std::mutex> lock(lock_);
                clients_.push_back(client);
            }
        }
        for (std::size_t k = 1; k < 1 + polledPending; ++k) {
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
            if (mode_ != Mode::NoReply)
                Answer(it->first, Clock::now(), watched);
            pending.erase(it); // the link stays open, silent
        }
    }
}

// ---- scripted lookup service -------------------------------------------------------

ScriptedLookupService::ScriptedLookupService(Answers answers) : answers_(std::move(answers))
{
    listenFd_ = ListenOnLoopback(16, &port_);
    if (listenFd_ >= 0)
        thread_ = std::thread([this] { Serve(); });
}

ScriptedLookupService::~ScriptedLookupService()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        close(listenFd_);
}

int ScriptedLookupService::Requests(const std::string& id) const
{
    std::lock_guard<std::mutex> lock(lock_);
    const auto it = asked_.find(id);
    return it == asked_.end() ? 0 : it->second;
}

void ScriptedLookupService::Serve()
{
    constexpr std::size_t kRequestSize = 6 + 17; // the header and "request DVR IP"'s payload
    std::vector<std::pair<int, std::vector<uint8_t>>> clients;
    while (!stop_) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
        for (const auto& c : clients)
            fds.push_back({c.first, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        for (std::size_t k = 1; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            auto it = std::find_if(clients.begin(), clients.end(), [&](auto& c) { return c.first == fds[k].fd; });
            uint8_t buffer[kRequestSize];
            const ssize_t n = recv(it->first, buffer, kRequestSize - it->second.size(), 0);
            if (n > 0)
                it->second.insert(it->second.end(), buffer, buffer + n);
            if (n > 0 && it->second.size() < kRequestSize)
                continue;
            if (n > 0) {
                // The ID: the payload's first 8 bytes, unscrambled, up to the first zero.
                std::string id;
                for (std::size_t b = 0; b < 8; ++b) {
                    const char c = static_cast<char>(it->second[6 + b] ^ static_cast<uint8_t>(0xFF - (b + 1)));
                    if (c == 0)
                        break;
                    id.push_back(c);
                }
                int asked;
                {
                    std::lock_guard<std::mutex> lock(lock_);
                    asked = asked_[id]++;
                }
                const auto pieces = answers_(id, asked);
                for (std::size_t p = 0; p < pieces.size(); ++p) {
                    if (p > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    send(it->first, pieces[p].data(), pieces[p].size(), MSG_NOSIGNAL);
                }
            }
            close(it->first);
            clients.erase(it);
        }
        if (fds[0].revents & POLLIN) {
            const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                clients.push_back({client, {}});
        }
    }
    for (const auto& c : clients)
        close(c.first);
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

RefusingPort::RefusingPort()
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        port_ = BoundPort(fd_);
}

RefusingPort::~RefusingPort()
{
    if (fd_ >= 0)
        close(fd_);
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

namespace {

// Calls `look` before each event its object is given.
class EventLook : public QObject {
public:
    EventLook(QObject* watched, std::function<void()> look) : look_(std::move(look)) { watched->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent*) override
    {
        look_();
        return false;
    }

private:
    std::function<void()> look_;
};

} // namespace

void LinkTest::WatchTitles(int ch, std::set<QString>* seen)
{
    seen->insert(Title(ch));
    titleWatch_ = std::make_unique<EventLook>(ctrl, [this, ch, seen] { seen->insert(Title(ch)); });
}

std::chrono::milliseconds LinkTest::DestroyControl()
{
    titleWatch_.reset();
    const auto start = std::chrono::steady_clock::now();
    delete ctrl;
    ctrl = nullptr;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

} // namespace linktest
