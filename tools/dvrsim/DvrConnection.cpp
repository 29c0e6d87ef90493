#include "DvrConnection.h"

#include <sys/socket.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

namespace dvrsim {

namespace {

// The link's own time-out for a packet that has started to move.
constexpr int kPacketTimeoutMs = 60000;
// A refused client gets this long to read the refusal before the close.
constexpr int kRefusalLingerMs = 2000;
constexpr std::size_t kGarbageBurst = 4096;
constexpr std::uint32_t kBadEventCount = 100000;
constexpr std::uint32_t kOversizeLength = kMaxMediaPayload + 1;
constexpr std::uint32_t kBadChannel = 99;

std::int32_t signedWord(const PacketHeader& h, std::size_t offset)
{
    return static_cast<std::int32_t>(getU32(&h[offset]));
}

std::string hexBytes(const std::uint8_t* p, std::size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

const char* resultName(IoResult r)
{
    switch (r) {
    case IoResult::Ok: return "ok";
    case IoResult::Closed: return "peer";
    case IoResult::TimedOut: return "timeout";
    case IoResult::Stopped: return "stop";
    case IoResult::Failed: return "error";
    }
    return "error";
}

}  // namespace

DvrConnection::DvrConnection(SimContext& context, Socket socket, int number)
    : ctx_(context), opt_(context.options), socket_(std::move(socket)), number_(number),
      lastSend_(Clock::now()), position_(kMaxChannels, 0), channelFrames_(kMaxChannels, 0),
      sound_(kMaxChannels), random_(static_cast<std::uint32_t>(number) * 7919u + 1u)
{
}

DvrConnection::~DvrConnection()
{
    requestStop();
    join();
}

void DvrConnection::start()
{
    log("CONNECT " + peerName(socket_.fd()));
    reader_ = std::thread([this] { readerLoop(); });
    writer_ = std::thread([this] { writerLoop(); });
}

void DvrConnection::requestStop()
{
    stop_ = true;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        wakeWriter_ = true;
    }
    wake_.notify_all();
    // A reset must not be preceded by an orderly end of our side: only the
    // readers here are woken, and the close of the socket sends the reset.
    if (resetting_)
        socket_.shutdownRead();
    else
        socket_.shutdownBoth();
}

void DvrConnection::join()
{
    if (reader_.joinable())
        reader_.join();
    if (writer_.joinable())
        writer_.join();
}

void DvrConnection::log(const std::string& text)
{
    ctx_.log.line(text + " #" + std::to_string(number_));
}

void DvrConnection::closeLink(const std::string& reason)
{
    if (!closeLogged_.exchange(true))
        log("CLOSE " + reason);
    requestStop();
}

bool DvrConnection::sendPacket(const std::uint8_t* data, std::size_t length)
{
    std::lock_guard<std::mutex> lock(sendLock_);
    const IoResult r = sendAll(socket_.fd(), data, length, stop_, kPacketTimeoutMs);
    lastSend_ = Clock::now();
    return r == IoResult::Ok;
}

bool DvrConnection::sendHeaderAndBody(const PacketHeader& header, const std::uint8_t* body, std::size_t length)
{
    std::vector<std::uint8_t> packet(kPacketHeaderSize + length);
    std::copy(header.begin(), header.end(), packet.begin());
    if (length > 0)
        std::memcpy(packet.data() + kPacketHeaderSize, body, length);
    return sendPacket(packet.data(), packet.size());
}

// ---- reader -----------------------------------------------------------------

void DvrConnection::readerLoop()
{
    PacketHeader h{};
    while (!stop_) {
        h.fill(0);
        const IoResult r = receiveAll(socket_.fd(), h.data(), h.size(), stop_, -1, kPacketTimeoutMs);
        if (r != IoResult::Ok) {
            closeLink(resultName(r));
            break;
        }
        if (!hasMagic(h)) {
            // Without the magic the stream has lost its packet boundaries.
            log("BAD-MAGIC");
            closeLink("bad-magic");
            break;
        }
        const std::uint32_t type = getU32(&h[8]);
        const std::uint32_t code = getU32(&h[12]);
        if (type == kPacketSession && code == kSessionLogin) {
            if (!handleLogin(h))
                break;
            continue;
        }
        bool loggedIn;
        {
            std::lock_guard<std::mutex> lock(stateLock_);
            loggedIn = loggedIn_;
        }
        bool keepReading = true;
        if (type == kPacketAudio) {
            // Sound is read whole even when unwanted, to stay on packet boundaries.
            if (code == 0 || code > kMaxMediaPayload) {
                log("PACKET " + std::to_string(type) + " " + std::to_string(code));
                closeLink("bad-length");
                break;
            }
            std::vector<std::uint8_t> sound(code);
            const IoResult s = receiveAll(socket_.fd(), sound.data(), sound.size(), stop_,
                                          kPacketTimeoutMs, kPacketTimeoutMs);
            if (s != IoResult::Ok) {
                closeLink(resultName(s));
                break;
            }
            log(loggedIn ? "AUDIO " + std::to_string(code) + " " + std::to_string(signedWord(h, 16))
                         : "PACKET " + std::to_string(type) + " " + std::to_string(code));
        } else if (!loggedIn) {
            log("PACKET " + std::to_string(type) + " " + std::to_string(code));
        } else if (type == kPacketSession && code == kSessionLogout) {
            handleLogout();
        } else if (type == kPacketPtz) {
            log("PTZ " + std::to_string(getU32(&h[16])) + " " + std::to_string(getU32(&h[24])) + " " +
                std::to_string(signedWord(h, 20)));
        } else if (type == kPacketControl) {
            if (code == kControlChannelMask) {
                const std::uint32_t mask = getU32(&h[16]);
                log("MASK " + hexWord(mask));
                std::lock_guard<std::mutex> lock(stateLock_);
                mask_ = mask;
                restartChannels_ = true;
                wakeWriter_ = true;
                wake_.notify_all();
            } else {
                keepReading = handleCommand(h);
            }
        } else {
            log("PACKET " + std::to_string(type) + " " + std::to_string(code));
        }
        if (!keepReading)
            break;
    }
    readerDone_ = true;
}

bool DvrConnection::handleLogin(const PacketHeader& h)
{
    const std::string id = fixedText(&h[16], 8);
    const std::string password = fixedText(&h[24], 8);
    const std::uint32_t kind = getU32(&h[36]);
    const std::uint32_t audio = getU32(&h[44]);
    const bool accepted = id == cutTo(opt_.user, 8) && password == cutTo(opt_.password, 8);
    log("LOGIN " + escapedText(id) + " " + escapedText(password) + " " + std::to_string(kind) + " " +
        std::to_string(audio) + (accepted ? " ACCEPT" : " REFUSE"));

    PacketHeader reply = makeHeader(kPacketSession, accepted ? kLoginAccepted : kLoginRefused);
    if (accepted) {
        putU32(&reply[32], static_cast<std::uint32_t>(opt_.right & 0xF) |
                               static_cast<std::uint32_t>(opt_.resolvedSignalType()) << 16);
        putU32(&reply[40], static_cast<std::uint32_t>(opt_.resolvedDvrType()));
    }
    if (!sendPacket(reply.data(), reply.size())) {
        closeLink("send");
        return false;
    }
    if (!accepted) {
        // Half-close, then let the client read the refusal and hang up first,
        // so that the reply is not lost to a reset.
        ::shutdown(socket_.fd(), SHUT_WR);
        std::uint8_t sink[256];
        const auto until = Clock::now() + std::chrono::milliseconds(kRefusalLingerMs);
        while (Clock::now() < until &&
               waitReadable(socket_.fd(), stop_, kStopPollMs) == IoResult::Ok &&
               ::recv(socket_.fd(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        closeLink("login-refused");
        return false;
    }
    std::lock_guard<std::mutex> lock(stateLock_);
    loggedIn_ = true;
    liveAllowed_ = kind != kSessionKindRemote;
    streaming_ = liveAllowed_ ? Streaming::Live : Streaming::Nothing;
    mask_ = 0;
    restartChannels_ = true;
    wakeWriter_ = true;
    wake_.notify_all();
    return true;
}

void DvrConnection::handleLogout()
{
    log("LOGOUT");
    std::lock_guard<std::mutex> lock(stateLock_);
    loggedIn_ = false;
    mask_ = 0;
    streaming_ = Streaming::Nothing;
}

bool DvrConnection::handleCommand(const PacketHeader& h)
{
    const std::uint32_t command = getU32(&h[12]);
    log("CMD " + std::to_string(command) + " " + std::to_string(signedWord(h, 16)) + " " +
        std::to_string(signedWord(h, 20)) + " " + hexBytes(&h[24], 8));
    if (command == kCmdSetupUpload)
        return handleSetupUpload();  // the record follows whatever the fault
    if (opt_.fault == Fault::Silence)
        return true;
    switch (command) {
    case kCmdSetupRequest:
        replySetup(getU32(&h[20]));
        break;
    case kCmdEventLog:
        replyEvents(getU32(&h[24]));
        break;
    case kCmdSearch:
        replySearch(getU32(&h[24]), getU32(&h[28]) != 0);
        break;
    case kCmdPlaybackFromTime:
    case kCmdPlayFrameByFrame:
    case kCmdFastForward:
    case kCmdRewind:
    case kCmdPause:
    case kCmdStop:
    case kCmdPlay:
        handlePlaybackCommand(command, getU32(&h[16]));
        break;
    default:
        break;  // forwarded commands (6, 7, 13, 16, 17, 20, 21, ...) are only logged
    }
    return !stop_;
}

bool DvrConnection::handleSetupUpload()
{
    std::vector<std::uint8_t> record(ctx_.setup.size());
    const IoResult r = receiveAll(socket_.fd(), record.data(), record.size(), stop_, kPacketTimeoutMs,
                                  kPacketTimeoutMs);
    if (r != IoResult::Ok) {
        closeLink(std::string("setup-upload ") + resultName(r));
        return false;
    }
    if (!ctx_.options.setupUploadFile.empty()) {
        std::ofstream out(ctx_.options.setupUploadFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    }
    log("SETUP-UPLOAD " + std::to_string(record.size()) + " " +
        hexWord(crc32Of(record.data(), record.size())));
    ctx_.setup.put(std::move(record));
    return true;
}

void DvrConnection::replySetup(std::uint32_t channel)
{
    const std::vector<std::uint8_t> record = ctx_.setup.get();
    PacketHeader h = makeHeader(kPacketControl, kReplySetupRecord);
    putU32(&h[16], channel);
    log("REPLY SETUP " + std::to_string(record.size()));
    if (!sendHeaderAndBody(h, record.data(), record.size()))
        closeLink("send");
}

void DvrConnection::replyEvents(std::uint32_t packedTime)
{
    // The events file is read again at each request, so a test can add
    // events between polls; one that cannot be read serves the start's list.
    std::vector<EventRecord> current;
    std::string error;
    const bool reread = !opt_.eventsFile.empty() && loadEvents(opt_.eventsFile, current, error);
    if (!opt_.eventsFile.empty() && !reread)
        log("EVENTS-FILE " + error);
    std::vector<EventRecord> records = eventsSince(reread ? current : ctx_.events, packedTime);
    if (opt_.fault == Fault::BadCount) {
        log(std::string("FAULT ") + faultName(opt_.fault));
        records = generateEvents(static_cast<int>(kBadEventCount), opt_.channels, std::time(nullptr));
    }
    PacketHeader h = makeHeader(kPacketControl, kReplyEventList);
    putU32(&h[16], static_cast<std::uint32_t>(records.size()));
    std::vector<std::uint8_t> body(records.size() * kEventRecordSize);
    for (std::size_t i = 0; i < records.size(); ++i)
        std::copy(records[i].begin(), records[i].end(), body.begin() + static_cast<long>(i * kEventRecordSize));
    log("REPLY EVENTS " + std::to_string(records.size()));
    if (!sendHeaderAndBody(h, body.data(), body.size()))
        closeLink("send");
}

void DvrConnection::replySearch(std::uint32_t packedTime, bool dayList)
{
    const std::vector<std::uint8_t> body =
        dayList ? ctx_.calendar.dayTimeList(packedTime) : ctx_.calendar.monthTable(packedTime);
    const PacketHeader h = makeHeader(kPacketControl, kReplySearch);
    log(dayList ? "REPLY DAY" : "REPLY MONTH");
    if (!sendHeaderAndBody(h, body.data(), body.size()))
        closeLink("send");
}

double DvrConnection::playbackTimeNow() const
{
    if (playPaused_)
        return playAnchorTime_;
    if (opt_.playbackByTcp)
        return playAnchorTime_ + playSpeed_ * static_cast<double>(playTicks_) / opt_.fps;
    const double elapsed = std::chrono::duration<double>(Clock::now() - playAnchorWall_).count();
    return playAnchorTime_ + playSpeed_ * elapsed;
}

bool DvrConnection::sendingAsFastAsRead() const
{
    return opt_.playbackByTcp && loggedIn_ && streaming_ == Streaming::Playback && !playPaused_ && mask_ != 0 &&
           opt_.fault != Fault::Silence;
}

bool DvrConnection::beginDuePlayback(Clock::time_point now)
{
    if (!seeking_ || now < seekEnd_)
        return false;
    seeking_ = false;
    streaming_ = Streaming::Playback;
    playAnchorTime_ = seekTime_;
    playAnchorWall_ = now;
    playTicks_ = 0;
    playSpeed_ = 1;
    playPaused_ = false;
    restartChannels_ = true;
    log("PLAYBACK " + std::to_string(seekTime_));
    return true;
}

void DvrConnection::handlePlaybackCommand(std::uint32_t command, std::uint32_t time)
{
    std::lock_guard<std::mutex> lock(stateLock_);
    if (command == kCmdPlaybackFromTime) {
        seeking_ = true;
        seekTime_ = time;
        seekEnd_ = Clock::now() + std::chrono::milliseconds(opt_.seekMs);
        beginDuePlayback(Clock::now());
        wakeWriter_ = true;
        wake_.notify_all();
        return;
    }
    if (command == kCmdStop)
        seeking_ = false;
    if (streaming_ != Streaming::Playback)
        return;
    playAnchorTime_ = playbackTimeNow();
    playAnchorWall_ = Clock::now();
    playTicks_ = 0;
    switch (command) {
    case kCmdPlay:
    case kCmdPlayFrameByFrame:
        playSpeed_ = 1;
        playPaused_ = false;
        log("PLAYBACK SPEED 1");
        break;
    case kCmdFastForward:
        playSpeed_ = 2;
        playPaused_ = false;
        log("PLAYBACK SPEED 2");
        break;
    case kCmdRewind:
        playSpeed_ = -2;
        playPaused_ = false;
        log("PLAYBACK SPEED -2");
        break;
    case kCmdPause:
        playPaused_ = true;
        log("PLAYBACK PAUSE");
        break;
    case kCmdStop:
        streaming_ = liveAllowed_ ? Streaming::Live : Streaming::Nothing;
        restartChannels_ = true;
        log("PLAYBACK STOP");
        break;
    default:
        break;
    }
}

// ---- writer -----------------------------------------------------------------

void DvrConnection::writerLoop()
{
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / opt_.fps));
    const auto keepAlive = std::chrono::seconds(opt_.keepAliveSeconds);
    const auto soundPeriod = std::chrono::milliseconds(SimSound::kBlockMilliseconds);
    auto nextTick = Clock::now() + period;
    auto nextSound = Clock::now() + soundPeriod;
    while (!stop_) {
        bool woken = false;
        bool asFastAsRead = false;
        {
            std::unique_lock<std::mutex> lock(stateLock_);
            auto until = opt_.audio ? std::min(nextTick, nextSound) : nextTick;
            if (seeking_)
                until = std::min(until, seekEnd_);
            // Sending as fast as the client reads, the socket is the only wait.
            if (!sendingAsFastAsRead())
                wake_.wait_until(lock, until, [this] { return stop_.load() || wakeWriter_; });
            woken = wakeWriter_;
            wakeWriter_ = false;
            if (beginDuePlayback(Clock::now()))
                woken = true;
            asFastAsRead = sendingAsFastAsRead();
        }
        if (stop_)
            break;
        const auto now = Clock::now();
        if (woken || asFastAsRead) {
            // A login, channel mask or play-back start: key frames go out at once.
            streamTick();
            nextTick = now + period;
        } else if (now >= nextTick) {
            streamTick();
            nextTick += period;
            if (now - nextTick > std::chrono::seconds(1))
                nextTick = now + period;  // fell far behind: skip, never burst
        }
        if (opt_.audio && now >= nextSound) {
            soundTick();
            nextSound += soundPeriod;
            if (now - nextSound > std::chrono::seconds(1))
                nextSound = now + soundPeriod;
        }
        if (opt_.keepAliveSeconds > 0 && opt_.fault != Fault::Silence && !stop_) {
            bool loggedIn;
            {
                std::lock_guard<std::mutex> lock(stateLock_);
                loggedIn = loggedIn_;
            }
            Clock::time_point last;
            {
                std::lock_guard<std::mutex> lock(sendLock_);
                last = lastSend_;
            }
            if (loggedIn && Clock::now() - last >= keepAlive) {
                const PacketHeader h = makeHeader(kPacketControl, kReplyKeepAlive);
                if (!sendPacket(h.data(), h.size()))
                    closeLink("send");
            }
        }
    }
    writerDone_ = true;
}

void DvrConnection::streamTick()
{
    bool loggedIn, restart, playback = false;
    Streaming streaming;
    std::uint32_t mask;
    double stamp;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        loggedIn = loggedIn_;
        streaming = streaming_;
        mask = mask_;
        restart = restartChannels_;
        restartChannels_ = false;
        if (streaming_ == Streaming::Playback) {
            playback = true;
            stamp = playbackTimeNow();
            if (playPaused_)
                streaming = Streaming::Nothing;
            else if (mask_ != 0)
                ++playTicks_;
        } else {
            stamp = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        }
    }
    if (!loggedIn)
        return;

    const int served = std::min(opt_.channels, kMaskableChannels);
    int firstChannel = 0;
    for (int c = 0; c < served; ++c)
        if (mask & (1u << c)) {
            firstChannel = c;
            break;
        }

    if (opt_.fault != Fault::None && opt_.fault != Fault::BadCount && !faultStarted_ &&
        (opt_.fault == Fault::Silence || framesSent_ >= opt_.faultAfter)) {
        faultStarted_ = true;
        log(std::string("FAULT ") + faultName(opt_.fault));
        switch (opt_.fault) {
        case Fault::Close:
            closeLink("fault");
            return;
        case Fault::Reset:
            socket_.abortOnClose();
            resetting_ = true;
            closeLink("reset");
            return;
        case Fault::Oversize:
            if (!sendFrame(firstChannel, firstChannel, kOversizeLength, playback, stamp))
                return closeLink("send");
            break;
        case Fault::BadChannel:
            if (!sendFrame(firstChannel, static_cast<int>(kBadChannel), 0, playback, stamp))
                return closeLink("send");
            break;
        default:
            break;
        }
    }
    if (opt_.fault == Fault::Silence)
        return;
    if (opt_.fault == Fault::Garbage && faultStarted_) {
        std::vector<std::uint8_t> junk(kGarbageBurst);
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(random_());
        if (!sendPacket(junk.data(), junk.size()))
            closeLink("send");
        return;
    }
    if (streaming == Streaming::Nothing)
        return;

    const int gop = ctx_.video.settings().gop;
    for (int c = 0; c < served; ++c) {
        if (!(mask & (1u << c)))
            continue;
        if (restart)
            position_[c] -= position_[c] % gop;
        if (!sendFrame(c, c, 0, playback, stamp)) {
            closeLink("send");
            return;
        }
    }
}

void DvrConnection::soundTick()
{
    std::uint32_t mask;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        if (!loggedIn_ || streaming_ != Streaming::Live)
            return;
        mask = mask_;
    }
    const int served = std::min(opt_.channels, kMaskableChannels);
    for (int c = 0; c < served; ++c) {
        if (!(mask & (1u << c)))
            continue;
        const std::vector<std::uint8_t> block = sound_.nextBlock(c);
        PacketHeader h = makeHeader(kPacketAudio, static_cast<std::uint32_t>(block.size()));
        putU32(&h[16], static_cast<std::uint32_t>(c));
        if (!sendHeaderAndBody(h, block.data(), block.size())) {
            closeLink("send");
            return;
        }
    }
}

bool DvrConnection::sendFrame(int channel, int channelInHeader, std::size_t paddedLength, bool playback,
                              double stamp)
{
    const std::vector<EncodedFrame>& loop = ctx_.video.channel(channel);
    int& position = position_[static_cast<std::size_t>(channel)];
    const EncodedFrame& frame = loop[static_cast<std::size_t>(position)];
    const std::size_t length = paddedLength ? paddedLength : frame.bytes.size();
    const LoopSettings& video = ctx_.video.settings();
    const bool ordinary = paddedLength == 0 && channelInHeader == channel;

    PacketHeader h = makeHeader(kPacketVideo, static_cast<std::uint32_t>(length));
    putU32(&h[video::kFrameType], frame.key ? 0 : 1);
    putU32(&h[video::kStreamWord], static_cast<std::uint32_t>(position % video.gop));
    long& sent = channelFrames_[static_cast<std::size_t>(channel)];
    if (ordinary && opt_.alarmEvery > 0 && (sent + 1) % opt_.alarmEvery == 0)
        putU32(&h[video::kEventBits], opt_.alarmBits);
    putU32(&h[video::kChannel], static_cast<std::uint32_t>(channelInHeader));
    putU32(&h[video::kWidth], static_cast<std::uint32_t>(video.width));
    putU32(&h[video::kHeight], static_cast<std::uint32_t>(video.height));
    putU32(&h[video::kInterlace], video.interlace ? 1 : 0);
    putU32(&h[video::kFrameInterval], opt_.frameIntervalCode());
    const double whole = std::floor(stamp);
    const auto seconds = static_cast<std::time_t>(whole);
    const std::tm local = localTimeOf(seconds);
    h[video::kYear] = static_cast<std::uint8_t>(local.tm_year + 1900 - 2000);
    h[video::kYear + 1] = static_cast<std::uint8_t>(local.tm_mon + 1);
    h[video::kYear + 2] = static_cast<std::uint8_t>(local.tm_mday);
    h[video::kYear + 3] = static_cast<std::uint8_t>(local.tm_hour);
    putU32(&h[video::kStreamSeconds], static_cast<std::uint32_t>(seconds));
    putU32(&h[video::kStreamMicroseconds], static_cast<std::uint32_t>((stamp - whole) * 1e6));
    putU32(&h[video::kTitleTime], video::kTitleTimeFromStamp);
    h[video::kMinute] = static_cast<std::uint8_t>(local.tm_min);
    h[video::kSecond] = static_cast<std::uint8_t>(local.tm_sec);
    h[video::kStatusByte] = playback ? video::kStatusPlayback : static_cast<std::uint8_t>(opt_.statusKind);

    packetBuffer_.assign(kPacketHeaderSize + length, 0);
    std::copy(h.begin(), h.end(), packetBuffer_.begin());
    std::memcpy(packetBuffer_.data() + kPacketHeaderSize, frame.bytes.data(),
                std::min(length, frame.bytes.size()));
    if (!sendPacket(packetBuffer_.data(), packetBuffer_.size()))
        return false;
    if (ordinary) {
        position = (position + 1) % static_cast<int>(loop.size());
        ++sent;
        ++framesSent_;
    }
    return true;
}

}  // namespace dvrsim
