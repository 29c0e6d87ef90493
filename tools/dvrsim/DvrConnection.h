// One client of the simulated DVR: a reader thread that takes the client's
// packets (login, channel mask, commands, PTZ, sound, setup upload) and
// answers them, and a writer thread that streams the requested channels.
// Every packet goes out whole under the send lock.
#pragma once

#include "SimContext.h"
#include "SimSound.h"
#include "SocketIo.h"
#include "Wire.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace dvrsim {

class DvrConnection {
public:
    DvrConnection(SimContext& context, Socket socket, int number);
    ~DvrConnection();
    DvrConnection(const DvrConnection&) = delete;
    DvrConnection& operator=(const DvrConnection&) = delete;

    void start();
    void requestStop();
    bool finished() const { return readerDone_.load() && writerDone_.load(); }
    void join();

private:
    using Clock = std::chrono::steady_clock;
    enum class Streaming { Nothing, Live, Playback };

    void readerLoop();
    void writerLoop();

    bool handleLogin(const PacketHeader& h);
    void handleLogout();
    bool handleCommand(const PacketHeader& h);  // false: stop reading
    bool handleSetupUpload();
    void handlePlaybackCommand(std::uint32_t command, std::uint32_t time);
    void replyEvents(std::uint32_t packedTime);
    void replySearch(std::uint32_t packedTime, bool dayList);
    void replySetup(std::uint32_t channel);

    bool sendPacket(const std::uint8_t* data, std::size_t length);
    bool sendHeaderAndBody(const PacketHeader& header, const std::uint8_t* body, std::size_t length);
    void streamTick();
    void soundTick();  // one block per live channel of the mask, with --audio
    // Sends the channel's current loop frame; `paddedLength` (when not 0)
    // and a foreign `channelInHeader` make the fault packets, which leave
    // the channel's position where it is.
    bool sendFrame(int channel, int channelInHeader, std::size_t paddedLength, bool playback, double stamp);
    double playbackTimeNow() const;  // callers hold state lock
    // Under the state lock: a play-back asked for and not yet begun (a DVR
    // seeking) begins once its time has come; true when it did.
    bool beginDuePlayback(Clock::time_point now);
    // Under the state lock: play-back frames go out without waiting for the
    // frame interval.
    bool sendingAsFastAsRead() const;
    void log(const std::string& text);
    void closeLink(const std::string& reason);

    SimContext& ctx_;
    const SimOptions& opt_;
    Socket socket_;
    const int number_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> readerDone_{false};
    std::atomic<bool> writerDone_{false};
    std::atomic<bool> closeLogged_{false};
    std::atomic<bool> resetting_{false};
    std::thread reader_;
    std::thread writer_;

    std::mutex sendLock_;
    Clock::time_point lastSend_;  // under sendLock_

    // Session state, shared by both threads under stateLock_.
    std::mutex stateLock_;
    std::condition_variable wake_;
    bool wakeWriter_ = false;
    bool loggedIn_ = false;
    bool liveAllowed_ = false;  // not in event-log and remote-search sessions
    std::uint32_t mask_ = 0;
    bool restartChannels_ = false;
    Streaming streaming_ = Streaming::Nothing;
    double playAnchorTime_ = 0;     // play-back time at playAnchorWall_
    Clock::time_point playAnchorWall_;
    double playSpeed_ = 1;
    bool playPaused_ = false;
    long playTicks_ = 0;            // --playback-pace tcp: ticks since playAnchorTime_
    bool seeking_ = false;          // command 14 read, play-back from seekTime_ at seekEnd_
    std::uint32_t seekTime_ = 0;
    Clock::time_point seekEnd_;

    // Writer's own state.
    std::vector<int> position_;     // next loop frame per channel
    std::vector<long> channelFrames_;
    long framesSent_ = 0;
    bool faultStarted_ = false;
    std::vector<std::uint8_t> packetBuffer_;
    SimSound sound_;
    std::mt19937 random_;
};

}  // namespace dvrsim
