// What the DVR link tests share: the simulator as a child process, a raw
// TCP stand-in for DVRs that misbehave at login, a host window that records
// the control's messages, and a fixture that drives one control in-process.
#pragma once

#include "MessageHost.h"
#include "SimProcess.h"
#include "VideoLoops.h"
#include "control/CVyrdaxCtrl.h"
#include "platform/MessageBox.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace linktest {

using testsupport::PumpFor;
using testsupport::PumpUntil;

// dvrsim on 127.0.0.1, held by the test: it lives as long as this object
// and the test's process, never by a clock.
class SimDvr {
public:
    SimDvr() = default;
    SimDvr(const SimDvr&) = delete;
    SimDvr& operator=(const SimDvr&) = delete;

    // For the next start: how long the simulator outlives the test's last
    // sign of life (a stopped or hung test process).
    void SetLease(int seconds) { sim_.setLease(seconds); }
    // `port` 0 picks a free one; a given port restarts on the same one.
    bool Start(std::vector<std::string> args, int port = 0);
    void Kill() { sim_.kill(); } // SIGKILL, as a DVR that loses power
    bool Stop(); // SIGTERM; true on a clean exit

    int Pid() const { return sim_.pid(); }
    int Port() const { return sim_.port(); }
    int LookupPort() const { return sim_.lookupPort(); }
    std::vector<std::string> Log() const { return sim_.logLines(); }
    // Lines that contain `text`.
    std::vector<std::string> LogLines(const std::string& text) const;
    int Count(const std::string& text) const { return static_cast<int>(LogLines(text).size()); }
    // Pumps the event loop until the log holds `count` lines with `text`.
    bool WaitLog(const std::string& text, int count = 1, int ms = 5000) const;

private:
    SimProcess sim_;
};

// What a hostile DVR does on one connection: it answers the login with
// `loginReply` as it stands (cut short or empty, no whole answer), then
// takes each step in turn.
struct HostileStep {
    std::vector<uint8_t> bytes; // a packet, a piece of one, or several
    int delayMs = 0;            // from the step before it
    // Not before the control has sent a type-5 packet of this code (0 is
    // its channel mask, the first thing it sends once logged in).
    std::optional<uint32_t> afterCommand;
    enum class End { None, Close, Reset };
    End end = End::None; // after the bytes: the connection is closed (FIN) or reset (RST)
};
struct HostileScript {
    std::vector<uint8_t> loginReply;
    std::vector<HostileStep> steps;
};

// A DVR stand-in for logins dvrsim does not give: it accepts connections,
// records each login request and answers it as told (or not at all).
// Watching, it answers, reads what the control sends and notes when each
// session is taken down; of its own it sends only a "nothing follows"
// reply once the control's first packet is in, and then every
// `signOfLifeMs` if that is set. Hostile, it watches each connection the
// same way and plays the script it is given for that login.
class FakeDvr {
public:
    enum class Mode { NoReply, Reply, Watch, Hostile };
    using Clock = std::chrono::steady_clock;
    struct Session {
        Clock::time_point lastSent{}; // just before the DVR's last packet went out
        Clock::time_point endedAt{};
        Clock::time_point lastHeard{}; // the control's last packet before the end was read
        int sent = 0;                 // packets (hostile: steps) of the DVR's own after the login reply
        Clock::duration longestGap{}; // between two of them, or the reply and the first
        bool ended = false;
        bool byLogout = false;        // else the connection was closed
        bool byDvr = false;           // the DVR's script closed or reset it
        std::vector<uint32_t> commands; // the codes of the control's type-5 packets, in order
        // From the DVR's last packet to the end it saw.
        Clock::duration Silence() const { return endedAt - lastSent; }
        // From the last packet either side sent to the end: a control's
        // packet counts only once read, so this is never longer than the
        // silence the control saw.
        Clock::duration QuietBeforeTheEnd() const { return endedAt - std::max(lastSent, lastHeard); }
    };
    // The script of each login, by its number from 0; called on the DVR's
    // own thread.
    using Scripts = std::function<HostileScript(int login)>;
    explicit FakeDvr(Mode mode, uint32_t replyCode = 0, uint32_t rightAndSignal = 0, uint32_t dvrType = 0,
                     int signOfLifeMs = 0);
    explicit FakeDvr(Scripts scripts);
    ~FakeDvr();
    int Port() const { return port_; }
    int Logins() const { return logins_.load(); }
    std::array<uint8_t, 76> LastLogin() const;
    // One a connection that logged in, in the order they came.
    std::vector<Session> Sessions() const;

private:
    FakeDvr(Mode mode, uint32_t replyCode, uint32_t rightAndSignal, uint32_t dvrType, int signOfLifeMs,
            Scripts scripts);
    struct Watched;
    void Serve();
    void Read(Watched& client);
    void SendSignOfLife(Watched& client);
    void Answer(int fd, Clock::time_point before, std::vector<Watched>& watched);
    void PlayScript(Watched& client);
    void EndByDvr(Watched& client, HostileStep::End end);
    Mode mode_;
    Scripts scripts_;
    uint32_t replyCode_, rightAndSignal_, dvrType_;
    int signOfLifeMs_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> logins_{0};
    mutable std::mutex lock_;
    std::array<uint8_t, 76> lastLogin_{};
    std::vector<int> clients_;
    std::vector<Session> sessions_;
    std::thread thread_;
};

// A listening port whose accept queue is full, so that a further connect
// gets no answer at all and can only time out.
class BlackholePort {
public:
    BlackholePort();
    ~BlackholePort();
    int Port() const { return port_; }
    bool Ready() const { return ready_; }

private:
    int listenFd_ = -1;
    std::vector<int> fillers_;
    int port_ = 0;
    bool ready_ = false;
};

// A lookup service whose every answer comes from `answers`: given the ID
// asked for and how often it was asked for before, the pieces to send (a
// short gap between two), after which the connection is closed; no pieces
// close it unanswered.
class ScriptedLookupService {
public:
    using Answers = std::function<std::vector<std::vector<uint8_t>>(const std::string& id, int asked)>;
    explicit ScriptedLookupService(Answers answers);
    ~ScriptedLookupService();
    int Port() const { return port_; }
    int Requests(const std::string& id) const;

private:
    void Serve();
    Answers answers_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::map<std::string, int> asked_;
    std::thread thread_;
};

// A simulator log line without its connection number.
std::string Bare(const std::string& line);
std::vector<std::string> Bare(const std::vector<std::string>& lines);

// A port on 127.0.0.1 with nothing listening on it.
int ClosedPort();
// A port on 127.0.0.1 that refuses every connection while this lives: it is
// bound and never listens, so no listener made meanwhile can take it.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};
// A socket listening on a free port of 127.0.0.1 (-1 when none could be
// made); the port goes to `port`.
int ListenOnLoopback(int backlog, int* port);

using Bytes = std::vector<uint8_t>;

// A DVR packet header: the magic, the type and the code, the rest zero.
Bytes Header(uint32_t type, uint32_t code);

// Real MPEG-4 of one small channel, made once: video object planes only,
// a key frame every fifth.
constexpr uint32_t kRealFrameWidth = 176, kRealFrameHeight = 144;
const std::vector<dvrsim::EncodedFrame>& RealFrames();

// The fields of a video packet a DVR of the test's own sends.
struct Video {
    uint32_t channel = 0, width = kRealFrameWidth, height = kRealFrameHeight, frameType = 0, streamWord = 0;
    uint32_t events = 0, titleForm = 0, interlace = 0, intervalCode = 1;
    uint8_t year = 24, month = 6, day = 15, hour = 12, minute = 30, second = 0, status = 0;
    uint32_t seconds = 1718454600, micro = 0, titleTime = 0x1124;
    Bytes payload;
};
// The header says `length`, whatever the payload holds.
Bytes VideoPacket(const Video& v, uint32_t length);
inline Bytes VideoPacket(const Video& v) { return VideoPacket(v, static_cast<uint32_t>(v.payload.size())); }

using HostWindow = testsupport::MessageHost;

// Closing a control waits at most for its display threads' frame in hand:
// one decode of one frame, a few milliseconds. Five seconds leave room for a
// machine loaded by two sanitizer suites at once.
constexpr auto kCloseBound = std::chrono::seconds(5);

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Binds channel `ch` (from 0) to `displayIndex` for a DVR at `port`.
    void Bind(int ch, const std::string& name, int displayIndex, int port, const std::string& address = "127.0.0.1",
              const std::string& id = "Guest", const std::string& password = "");
    bool WaitMessage(uint32_t message, long wParam = -1, int count = 1, int ms = 5000);
    QString Title(int ch) const;
    bool WaitTitle(int ch, const QString& text, int ms = 5000);
    // Notes channel `ch`'s title into `seen` before every event the control
    // is given, until the control is destroyed. A title of the link stands
    // until an event of the control's moves the link on (the reconnect tick,
    // the connect's notice), so none is missed however long the machine
    // holds the test's loop, as a look between turns of the loop could.
    void WatchTitles(int ch, std::set<QString>* seen);
    // Destroys the control, returning how long that took.
    std::chrono::milliseconds DestroyControl();

    HostWindow host;
    vyrdax::CVyrdaxCtrl* ctrl = nullptr;
    std::vector<std::string> boxes;
    mutable std::mutex boxesLock;

private:
    platform::MessageBoxHandler previousBoxes_;
    std::unique_ptr<QObject> titleWatch_;
};

} // namespace linktest
