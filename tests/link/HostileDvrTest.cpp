// DVRs that send garbage. A DVR of the test's own answers the login and then
// sends what a seed makes of the protocol: lengths, counts, channels, picture
// sizes and DVR types out of their bounds, packets cut short or split into
// pieces, types and codes nobody knows, garbage for video; and a lookup
// service answers with replies of every kind. Every kind of session meets
// it: live on four channels, the setup record, remote play-back, the month
// and the day searches, the event log and a DVR known by its ID. Each
// session must end as what it received says, with the host told what it is
// owed and nothing else, frames that cannot be shown left unshown, and the
// control closed promptly afterwards; the sanitizers watch every byte.
//
// The sessions run in ctest entries of their own (link_tests_hostile_<kind>),
// which set VYR_LINK_HOSTILE; elsewhere they skip. A failing session is named
// by its seed and runs again alone (VYR_HOSTILE_STORIES=1 tells what it sent);
// each seed is printed as its session starts and ends, so a run the
// sanitizers stop still names the sessions it was running:
//   VYR_LINK_HOSTILE=1 VYR_HOSTILE_SEED=<seed> link_tests --gtest_filter='Hostile/HostileDvrTest.*/<kind>'
#include "LinkHarness.h"

#include "VideoLoops.h"
#include "control/StatusTexts.h"
#include "control/link/LinkSettings.h"
#include "control/link/LookupMessage.h"
#include "platform/Registry.h"
#include "tests/audio/FakeAudioDevice.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

namespace {

using namespace linktest;
using namespace vyrdax;
using Clock = std::chrono::steady_clock;

constexpr int kBoundChannels = 4;
// Display indexes of the bound channels, unlike their numbers so that a
// message carrying the one for the other is caught.
constexpr long kDisplayIndex[kBoundChannels] = {5, 2, 7, 0};
constexpr long kEventDisplayIndex = 5;
constexpr uint32_t kPictureWidth = kRealFrameWidth, kPictureHeight = kRealFrameHeight;
constexpr int kSessionsPerKind = 48;
constexpr int kSideBySide = 8;
// Every end below comes at once, or at the reconnect tick (2.5 s in these
// entries), or at the lookup's retry timer (10 s): beyond half a minute is
// load, not the product.
constexpr auto kEndBound = std::chrono::seconds(30);

enum class Kind { Live, Setup, Playback, Month, Day, EventLog, Lookup };

const char* KindName(Kind kind)
{
    switch (kind) {
    case Kind::Live: return "live";
    case Kind::Setup: return "setup";
    case Kind::Playback: return "playback";
    case Kind::Month: return "month";
    case Kind::Day: return "day";
    case Kind::EventLog: return "eventlog";
    case Kind::Lookup: return "lookup";
    }
    return "?";
}

bool RemoteKind(Kind kind)
{
    return kind == Kind::Playback || kind == Kind::Month || kind == Kind::Day;
}

bool LiveKind(Kind kind)
{
    return kind == Kind::Live || kind == Kind::Setup || kind == Kind::Lookup;
}

// How a session ends, as the control must end it for what it received.
enum class Ending {
    HostEnds,        // it lasts until the host ends it; the DVR then sees a logout
    Answered,        // a one-shot answer came; the control logged out after it
    Reconnects,      // live: the control logs in again
    LostTold,        // remote: each channel told it could not connect, and the operator why
    RefusedTold,     // remote: as LostTold, the box saying the login was refused
    NotAnsweredTold, // the login was never answered whole: told as a connection that timed out
    LinkError,       // WM_VIDEO_LINK_ERROR with its code
    EndedQuietly,    // logged out with nothing to tell the host
    LookupRefused,   // the lookup service's refusal is shown, no DVR is asked
};

const char* EndingName(Ending ending)
{
    switch (ending) {
    case Ending::HostEnds: return "ended by the host";
    case Ending::Answered: return "answered and logged out";
    case Ending::Reconnects: return "logs in again";
    case Ending::LostTold: return "lost, told";
    case Ending::RefusedTold: return "refused, told";
    case Ending::NotAnsweredTold: return "login unanswered, told";
    case Ending::LinkError: return "link error";
    case Ending::EndedQuietly: return "logged out quietly";
    case Ending::LookupRefused: return "lookup refused";
    }
    return "?";
}

// What the lookup service answers a session's first request with; every
// later request gets the DVR's address.
enum class LookupReply {
    Address, BadPassword, Busy, NoId, NotReady, OtherError, BadMagic, TooLong, Cut, Short, NameBeyond,
    Unanswered, ClosedPort, OddCodeLongName, Split, Empty,
    Count
};

const char* LookupReplyName(LookupReply r)
{
    static const char* names[] = {"address",  "bad password", "busy",       "no id",      "not ready",  "other error",
                                  "bad magic", "too long",    "cut",        "short",      "name beyond",
                                  "unanswered", "closed port", "odd code, long name", "split", "empty"};
    return names[static_cast<int>(r)];
}

struct Expectation {
    Ending ending = Ending::HostEnds;
    int linkErrorCode = -1;
    long linkErrorIndex = 0;
    bool exact = true; // after a reset what came before it may be lost: counts are bounds
    bool loginAccepted = false;
    std::map<long, int> alarms, alarms2, started; // by display index
    int dvrData = 0;
    long dvrDataWParam = 0, dvrDataLParam = 0;
    Bytes setupRecord; // the last one received whole
    int searchAnswers = 0;
    long monthWParam = 0;
    Bytes searchAnswer;
    bool eventAnswer = false;
    uint32_t eventCount = 0;
    Bytes eventRecords;
    bool eventTableCleared = false; // a refused or cut list leaves count 0
    bool realShown = false;         // the channel of real video shows a picture before the host ends
    const char* lookupTitle = nullptr;
};

struct Plan {
    uint32_t seed = 0;
    Kind kind = Kind::Live;
    int real = 0, garbage = 1, implausible = 2, outside = 3; // roles of the bound channels
    HostileScript script;
    Bytes politeLogin; // the answer to every later login
    LookupReply lookup = LookupReply::Address;
    Expectation expect;
    std::string story; // what the DVR sent, in short
};

void Put32(uint8_t* p, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        p[b] = static_cast<uint8_t>(v >> (8 * b));
}

uint32_t Get32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

Bytes Joined(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Makes one session's plan from its seed: the DVR's script, packet by
// packet, and beside it what the control must make of each packet, as the
// receive thread's rules have it.
class Generator {
public:
    Generator(uint32_t seed, Kind kind) : random_(seed)
    {
        plan_.seed = seed;
        plan_.kind = kind;
        remote_ = RemoteKind(kind);
        eventLog_ = kind == Kind::EventLog;
        display_.fill(-1);
        stopped_.fill(true);
        first_.fill(true);
        lastWidth_.fill(0);
        lastHeight_.fill(0);
        status_.fill(0);
        if (eventLog_) {
            display_[0] = kEventDisplayIndex;
        } else {
            for (int ch = 0; ch < kBoundChannels; ++ch) {
                display_[ch] = kDisplayIndex[ch];
                stopped_[ch] = false;
                status_[ch] = STATUS_LIVE;
            }
            // A remote session asks for all 64 channels.
            if (remote_) {
                stopped_.fill(false);
                status_.fill(STATUS_LIVE);
            }
        }
    }

    Plan Make()
    {
        int roles[kBoundChannels] = {0, 1, 2, 3};
        std::shuffle(std::begin(roles), std::end(roles), random_);
        plan_.real = roles[0];
        plan_.garbage = roles[1];
        plan_.implausible = roles[2];
        plan_.outside = roles[3];
        if (plan_.kind == Kind::Lookup) {
            plan_.lookup = static_cast<LookupReply>(Below(static_cast<uint32_t>(LookupReply::Count)));
            Note(std::string("lookup: ") + LookupReplyName(plan_.lookup));
            if (plan_.lookup == LookupReply::BadPassword || plan_.lookup == LookupReply::NoId ||
                plan_.lookup == LookupReply::NotReady) {
                expect().ending = Ending::LookupRefused;
                expect().lookupTitle = plan_.lookup == LookupReply::BadPassword ? text::kBadPw
                                       : plan_.lookup == LookupReply::NoId      ? text::kNoId
                                                                                : text::kError;
            }
        }
        if (expect().ending != Ending::LookupRefused && Login())
            Session();
        Bytes polite = Header(PACKET_SESSION, LOGIN_ACCEPTED);
        Put32(&polite[DvrPacketHeader::kDvrType], static_cast<uint32_t>(dvrType_));
        plan_.politeLogin = polite;
        return std::move(plan_);
    }

private:
    Expectation& expect() { return plan_.expect; }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(random_() % n); }
    bool Chance(int percent) { return Below(100) < static_cast<uint32_t>(percent); }
    template <typename T, std::size_t N>
    T Pick(const T (&values)[N])
    {
        return values[Below(N)];
    }
    Bytes Garbage(std::size_t n)
    {
        Bytes b(n);
        for (auto& x : b)
            x = static_cast<uint8_t>(random_());
        return b;
    }
    void Note(const std::string& what)
    {
        if (!plan_.story.empty())
            plan_.story += ", ";
        plan_.story += what;
    }
    void Step(Bytes bytes, int delayMs = 0, std::optional<uint32_t> afterCommand = std::nullopt,
              HostileStep::End end = HostileStep::End::None)
    {
        HostileStep s;
        s.bytes = std::move(bytes);
        s.delayMs = delayMs;
        s.afterCommand = afterCommand;
        s.end = end;
        plan_.script.steps.push_back(std::move(s));
    }
    // A whole packet, now and then in pieces a little apart.
    void Send(const Bytes& packet, std::optional<uint32_t> afterCommand = std::nullopt)
    {
        if (packet.size() > 1 && Chance(15)) {
            std::vector<std::size_t> cuts{0, packet.size()};
            for (uint32_t k = 1 + Below(3); k > 0; --k)
                cuts.push_back(1 + Below(static_cast<uint32_t>(packet.size() - 1)));
            std::sort(cuts.begin(), cuts.end());
            cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
            for (std::size_t k = 0; k + 1 < cuts.size(); ++k)
                Step(Bytes(packet.begin() + static_cast<long>(cuts[k]),
                           packet.begin() + static_cast<long>(cuts[k + 1])),
                     static_cast<int>(Below(15)), k == 0 ? afterCommand : std::nullopt);
            Note("split");
        } else {
            Step(packet, Chance(20) ? static_cast<int>(Below(10)) : 0, afterCommand);
        }
    }
    void End(HostileStep::End end)
    {
        HostileStep s;
        s.end = end;
        plan_.script.steps.push_back(std::move(s));
    }
    // The end of a link the DVR broke, in this kind of session.
    void Lost()
    {
        expect().ending = LiveKind(plan_.kind) ? Ending::Reconnects
                          : remote_          ? Ending::LostTold
                                             : Ending::EndedQuietly;
        over_ = true;
    }

    // ---- the login --------------------------------------------------------------

    // False when the session ends at its login.
    bool Login()
    {
        Bytes reply = Header(PACKET_SESSION, LOGIN_ACCEPTED);
        const uint32_t choice = Below(100);
        if (choice < 7) {
            Put32(&reply[12], LOGIN_REFUSED);
            plan_.script.loginReply = reply;
            Note("login refused");
            expect().ending = LiveKind(plan_.kind) ? Ending::Reconnects
                              : remote_          ? Ending::RefusedTold
                                                 : Ending::LinkError;
            expect().linkErrorCode = 1;
            expect().linkErrorIndex = kEventDisplayIndex;
            return false;
        }
        if (choice < 12) {
            plan_.script.loginReply.assign(reply.begin(), reply.begin() + Below(DvrPacketHeader::kSize));
            End(HostileStep::End::Close);
            Note("login answer cut at " + std::to_string(plan_.script.loginReply.size()));
            expect().ending = LiveKind(plan_.kind) ? Ending::Reconnects : Ending::NotAnsweredTold;
            return false;
        }
        expect().loginAccepted = true;
        if (choice < 18) {
            // Neither accepted nor refused: logged in, nothing of it taken.
            const uint32_t odd[] = {0, 1, 0x1000, 0x1003, 0xFFFFFFFF, 0x80000000u | Below(1000)};
            Put32(&reply[12], Pick(odd));
            Put32(&reply[DvrPacketHeader::kDvrType], static_cast<uint32_t>(random_()));
            Note("login code " + std::to_string(Get32(&reply[12])));
        } else {
            const uint32_t types[] = {0, 1, 2, 4, 5, 9, 15, 16, 17, 33, 65, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                      static_cast<uint32_t>(random_())};
            dvrType_ = static_cast<int32_t>(Pick(types));
            Put32(&reply[DvrPacketHeader::kDvrType], static_cast<uint32_t>(dvrType_));
            Put32(&reply[DvrPacketHeader::kRightAndSignal], static_cast<uint32_t>(random_()));
            Note("DVR type " + std::to_string(dvrType_));
        }
        plan_.script.loginReply = reply;
        return true;
    }

    // ---- packets the session lives through -------------------------------------

    // The control's channel state update for a frame's status byte; a
    // remote session ends when the DVR says its channel stopped playing.
    void ChannelState(int ch, int kind)
    {
        int32_t& word = status_[ch];
        const bool d = word & STATUS_DVR_D;
        switch (kind) {
        case 1:
        case 5:
            if (remote_) {
                if (d) {
                    expect().ending = Ending::EndedQuietly;
                    over_ = true;
                    Note("the DVR's state ends the session");
                }
            } else if (kind == 1) {
                word &= ~(STATUS_DVR_D | STATUS_DVR_PLAYBACK);
            } else {
                word = (word | STATUS_DVR_PLAYBACK) & ~STATUS_DVR_D;
            }
            break;
        case 2: word = (word | STATUS_DVR_D) & ~STATUS_DVR_PLAYBACK; break;
        case 6: word |= STATUS_DVR_D | STATUS_DVR_PLAYBACK; break;
        default: break;
        }
    }

    // A video packet of a length the link takes.
    void SendVideo(const Video& v)
    {
        Send(VideoPacket(v, static_cast<uint32_t>(v.payload.size())));
        if (v.width > static_cast<uint32_t>(kMaxPictureWidth) || v.height > static_cast<uint32_t>(kMaxPictureHeight) ||
            v.channel >= static_cast<uint32_t>(kChannelCount))
            return; // read past
        const int ch = static_cast<int>(v.channel);
        if (v.width != lastWidth_[ch] || v.height != lastHeight_[ch]) {
            first_[ch] = true;
            lastWidth_[ch] = v.width;
            lastHeight_[ch] = v.height;
        }
        if (first_[ch]) {
            if (v.payload[0] == 0 && v.frameType == 0)
                ++expect().started[display_[ch]];
            first_[ch] = false;
        }
        if (stopped_[ch])
            return;
        ChannelState(ch, static_cast<int8_t>(v.status));
        if (v.events & 2)
            ++expect().alarms[display_[ch]];
        if (v.events & 4)
            ++expect().alarms2[display_[ch]];
    }

    void RandomiseHeader(Video& v)
    {
        v.frameType = Chance(50) ? 0 : Pick({1u, 2u, 0xFFFFFFFFu, static_cast<uint32_t>(random_())});
        v.streamWord = Chance(50) ? Below(5) : static_cast<uint32_t>(random_());
        v.events = Chance(70) ? Below(8) : static_cast<uint32_t>(random_());
        v.titleForm = static_cast<uint32_t>(random_());
        v.interlace = Pick({0u, 1u, 2u, 0xFFFFFFFFu});
        v.intervalCode = Chance(60) ? Below(60) : static_cast<uint32_t>(random_());
        v.year = static_cast<uint8_t>(random_());
        v.month = static_cast<uint8_t>(random_());
        v.day = static_cast<uint8_t>(random_());
        v.hour = static_cast<uint8_t>(random_());
        v.minute = static_cast<uint8_t>(random_());
        v.second = static_cast<uint8_t>(random_());
        v.seconds = static_cast<uint32_t>(random_());
        v.micro = static_cast<uint32_t>(random_());
        v.titleTime = Pick({0u, 0x1124u, static_cast<uint32_t>(random_())});
        v.status = Chance(50) ? static_cast<uint8_t>(Below(8)) : static_cast<uint8_t>(random_());
    }

    uint32_t PictureWidth()
    {
        return Pick({0u, 1u, 2u, 15u, 16u, kPictureWidth, 352u, 704u, 720u, Below(721)});
    }
    uint32_t PictureHeight()
    {
        return Pick({0u, 1u, 2u, 15u, 16u, kPictureHeight, 240u, 480u, 576u, Below(577)});
    }

    // A channel for garbage: the garbage channel or one nobody shows.
    uint32_t GarbageChannel()
    {
        return Chance(70) ? plan_.garbage : kBoundChannels + Below(kChannelCount - kBoundChannels);
    }

    // The next frame of a channel's loop of real video, its header as a
    // DVR's own would be.
    Video NextRealFrame(std::size_t& next, uint32_t channel)
    {
        const auto& frames = RealFrames();
        const std::size_t k = next++ % frames.size();
        Video v;
        v.channel = channel;
        v.frameType = frames[k].key ? 0 : 1;
        v.streamWord = static_cast<uint32_t>(k % 5);
        v.events = Below(8);
        v.payload = frames[k].bytes;
        return v;
    }

    void RealFrame()
    {
        Video v = NextRealFrame(realNext_, plan_.real);
        v.titleForm = Below(2);
        v.intervalCode = Below(4);
        v.month = static_cast<uint8_t>(1 + Below(12));
        v.day = static_cast<uint8_t>(1 + Below(28));
        v.hour = static_cast<uint8_t>(Below(24));
        v.minute = static_cast<uint8_t>(Below(60));
        v.second = static_cast<uint8_t>(Below(60));
        v.seconds += static_cast<uint32_t>(realNext_);
        v.titleTime = Pick({0u, 0x1124u, v.seconds});
        v.status = Pick({0, 1, 2, 3, 4, 5, 6, 0xFF});
        SendVideo(v);
        realKeySent_ = true;
        // A remote session shows only frames of the play-back stream.
        realShowable_ = realShowable_ || !remote_ || v.status == FrameInfo::kPlaybackState;
    }

    void GarbageFrame()
    {
        Video v;
        RandomiseHeader(v);
        v.channel = GarbageChannel();
        v.width = PictureWidth();
        v.height = PictureHeight();
        const uint32_t sizes[] = {1 + Below(16), 17 + Below(2032), 2049 + Below(30720), 1 + Below(kMaxPayload),
                                  kMaxPayload, kMaxPayload - kStreamHeaderSize};
        v.payload = Garbage(Chance(95) ? Pick({sizes[0], sizes[1], sizes[2]}) : Pick(sizes));
        if (Chance(50))
            v.payload[0] = 0;
        Note("garbage video " + std::to_string(v.payload.size()) + " B on " + std::to_string(v.channel));
        SendVideo(v);
    }

    void DamagedRealFrame()
    {
        const auto& frames = RealFrames();
        Video v;
        RandomiseHeader(v);
        v.channel = GarbageChannel();
        if (Chance(50)) {
            v.width = PictureWidth();
            v.height = PictureHeight();
        }
        v.payload = frames[Below(static_cast<uint32_t>(frames.size()))].bytes;
        switch (Below(3)) {
        case 0:
            for (uint32_t k = 1 + Below(8); k > 0; --k)
                v.payload[Below(static_cast<uint32_t>(v.payload.size()))] = static_cast<uint8_t>(random_());
            break;
        case 1: v.payload.resize(1 + Below(static_cast<uint32_t>(v.payload.size()))); break;
        default: {
            const Bytes more = Garbage(1 + Below(4096));
            v.payload.insert(v.payload.end(), more.begin(), more.end());
        }
        }
        Note("damaged video on " + std::to_string(v.channel));
        SendVideo(v);
    }

    // Real video whose DVR time no calendar has: the display drops it.
    void ImplausibleFrame()
    {
        Video v = NextRealFrame(implausibleNext_, plan_.implausible);
        v.status = static_cast<uint8_t>(Below(7));
        switch (Below(5)) {
        case 0: v.month = Pick({uint8_t{0}, uint8_t{14}, uint8_t{255}}); break;
        case 1: v.day = Pick({uint8_t{0}, uint8_t{32}, uint8_t{200}}); break;
        case 2: v.hour = static_cast<uint8_t>(26 + Below(230)); break;
        case 3: v.minute = static_cast<uint8_t>(62 + Below(194)); break;
        default: v.second = static_cast<uint8_t>(62 + Below(194)); break;
        }
        SendVideo(v);
    }

    // Video of a size or channel beyond any: read past, never queued.
    void OutsideFrame()
    {
        Video v;
        RandomiseHeader(v);
        v.channel = plan_.outside;
        v.width = PictureWidth();
        v.height = PictureHeight();
        const uint32_t huge[] = {721, 1024, 0xFFFF, 0x80000000, 0xFFFFFFFF};
        switch (Below(3)) {
        case 0: v.width = Pick(huge); break;
        case 1: v.height = Pick({577u, 1080u, 0xFFFFu, 0x80000000u, 0xFFFFFFFFu}); break;
        default: v.channel = Pick({64u, 99u, 255u, 0x80000000u, 0xFFFFFFFFu}); break;
        }
        v.payload = Garbage(Chance(90) ? 1 + Below(4096) : 1 + Below(kMaxPayload));
        Note("video " + std::to_string(v.width) + "x" + std::to_string(v.height) + " on " + std::to_string(v.channel));
        SendVideo(v);
    }

    void HeaderOnly()
    {
        uint32_t type =
            Pick({0u, 1u, 4u, 5u, 6u, 7u, 255u, 0x80000000u, 0xFFFFFFFFu, static_cast<uint32_t>(random_())});
        if (type == PACKET_VIDEO || type == PACKET_AUDIO)
            type = 9;
        uint32_t code = Pick({0u, 1u, 2u, 0x13u, 0x22u, 0xFFFFFFFFu, static_cast<uint32_t>(random_())});
        if (type == PACKET_CONTROL && (code == REPLY_SETUP_RECORD || code == REPLY_EVENT_LIST || code == REPLY_SEARCH))
            code = 0x99;
        Bytes h = Header(type, code);
        for (std::size_t at = 16; at < h.size(); ++at)
            if (Chance(30))
                h[at] = static_cast<uint8_t>(random_());
        Note("type " + std::to_string(type) + " code " + std::to_string(code));
        Send(h);
    }

    void Audio()
    {
        const uint32_t length = Chance(85) ? 1 + Below(4096) : 1 + Below(kMaxPayload);
        Bytes h = Header(PACKET_AUDIO, length);
        // -1 is the audio channel of a control nobody told another.
        Put32(&h[DvrPacketHeader::kAudioChannel], Chance(50) ? 0xFFFFFFFFu : static_cast<uint32_t>(random_()));
        Note("audio " + std::to_string(length) + " B");
        Send(Joined(h, Garbage(length)));
    }

    Bytes SetupRecordPacket(uint32_t channel)
    {
        const std::size_t size =
            dvrType_ >= kSetupRecordLargeFromDvrType ? kSetupRecordLargeSize : kSetupRecordSmallSize;
        Bytes h = Header(PACKET_CONTROL, REPLY_SETUP_RECORD);
        Put32(&h[DvrPacketHeader::kArg1], channel);
        const Bytes record = Garbage(size);
        expect().dvrData += 1;
        expect().dvrDataWParam = static_cast<long>(dvrType_);
        expect().dvrDataLParam = channel < static_cast<uint32_t>(kChannelCount) ? display_[channel] : -1;
        expect().setupRecord = record;
        return Joined(h, record);
    }

    void SetupRecord(std::optional<uint32_t> afterCommand = std::nullopt)
    {
        const uint32_t channel = Pick({0u, 1u, 2u, 3u, 63u, 64u, 0xFFFFFFFFu});
        Note("setup record for " + std::to_string(channel));
        Send(SetupRecordPacket(channel), afterCommand);
    }

    Bytes EventListPacket(uint32_t count, std::size_t records)
    {
        Bytes h = Header(PACKET_CONTROL, REPLY_EVENT_LIST);
        Put32(&h[DvrPacketHeader::kArg1], count);
        return Joined(h, Garbage(records * kEventRecordSize));
    }

    // A list nobody asked for is read past.
    void UnaskedEventList()
    {
        const uint32_t count = Below(21);
        Note("unasked event list of " + std::to_string(count));
        Send(EventListPacket(count, count));
    }

    void Survive()
    {
        const uint32_t choice = Below(100);
        if (choice < 25)
            RealFrame();
        else if (choice < 40)
            GarbageFrame();
        else if (choice < 48)
            DamagedRealFrame();
        else if (choice < 56)
            ImplausibleFrame();
        else if (choice < 64)
            OutsideFrame();
        else if (choice < 76)
            HeaderOnly();
        else if (choice < 84)
            Audio();
        else if (choice < 90)
            SetupRecord();
        else if (choice < 94 && !eventLog_)
            UnaskedEventList();
        else
            Send(Header(PACKET_CONTROL, REPLY_ACK));
    }

    // ---- how the session ends ---------------------------------------------------

    // The last whole packet, then the connection ends with a piece of another.
    void CutPacket()
    {
        Bytes packet;
        std::size_t keep;
        const uint32_t choice = Below(6);
        if (choice == 0) {
            packet = Header(Pick({0u, 1u, 2u, 3u, 5u}), static_cast<uint32_t>(random_()));
            keep = 1 + Below(DvrPacketHeader::kSize - 1);
        } else {
            if (choice == 1) {
                Video v;
                RandomiseHeader(v);
                v.channel = GarbageChannel();
                v.width = PictureWidth();
                v.height = PictureHeight();
                v.payload = Garbage(1 + Below(8192));
                packet = VideoPacket(v, static_cast<uint32_t>(v.payload.size()));
            } else if (choice == 2) {
                const uint32_t length = 1 + Below(4096);
                packet = Joined(Header(PACKET_AUDIO, length), Garbage(length));
            } else if (choice == 3) {
                const Expectation before = expect();
                packet = SetupRecordPacket(0);
                expect() = before; // never read whole
            } else if (choice == 4 && !eventLog_) {
                // A list nobody asked for that ends short: it cannot be read past.
                const uint32_t count = 1 + Below(20);
                packet = EventListPacket(count, count);
                Step(Bytes(packet.begin(), packet.begin() + static_cast<long>(DvrPacketHeader::kSize +
                                                                              Below(count * kEventRecordSize))));
                End(HostileStep::End::Close);
                Note("unasked event list cut");
                expect().ending = Ending::LinkError;
                expect().linkErrorCode = 0;
                expect().linkErrorIndex = 0;
                over_ = true;
                return;
            } else {
                // A search answer that ends short ends the session, with nothing told.
                const std::size_t size = plan_.kind == Kind::Day ? kTimeListSize : kMonthTableSize;
                packet = Joined(Header(PACKET_CONTROL, REPLY_SEARCH), Garbage(size));
                Step(Bytes(packet.begin(), packet.begin() + static_cast<long>(DvrPacketHeader::kSize +
                                                                              Below(static_cast<uint32_t>(size)))),
                     0, plan_.kind == Kind::Month || plan_.kind == Kind::Day ? std::optional<uint32_t>(CMD_SEARCH)
                                                                             : std::nullopt);
                End(HostileStep::End::Close);
                Note("search answer cut");
                expect().ending = Ending::EndedQuietly;
                over_ = true;
                return;
            }
            keep = DvrPacketHeader::kSize + Below(static_cast<uint32_t>(packet.size() - DvrPacketHeader::kSize));
        }
        Step(Bytes(packet.begin(), packet.begin() + static_cast<long>(keep)));
        End(HostileStep::End::Close);
        Note("cut after " + std::to_string(keep) + " of " + std::to_string(packet.size()) + " B");
        Lost();
    }

    // A length no payload may have: nothing after it can be read as a packet.
    void ImpossibleLength()
    {
        const uint32_t lengths[] = {0, kMaxPayload + 1, 0x7FFFFFFF, 0xFFFFFFFF};
        const uint32_t length = Pick(lengths);
        if (Chance(50)) {
            Video v;
            RandomiseHeader(v);
            v.channel = Below(kChannelCount);
            Send(VideoPacket(v, length));
            Note("video of length " + std::to_string(length));
        } else {
            Send(Header(PACKET_AUDIO, length));
            Note("audio of length " + std::to_string(length));
        }
        Lost();
    }

    void EventCountBeyondTheTable(std::optional<uint32_t> afterCommand = std::nullopt)
    {
        const uint32_t count = Pick({kMaxEventRecords + 1, 100000u, 0x7FFFFFFFu, 0xFFFFFFFFu});
        Send(EventListPacket(count, 0), afterCommand);
        Note("event count " + std::to_string(count));
        expect().ending = Ending::LinkError;
        expect().linkErrorCode = 0;
        expect().linkErrorIndex = eventLog_ ? kEventDisplayIndex : 0;
        expect().eventTableCleared = eventLog_;
        over_ = true;
    }

    // A search answer ends the session unless channel 0 shows the DVR's
    // own state.
    void SearchAnswer(std::optional<uint32_t> afterCommand)
    {
        // The control takes the size it asked for last: a day's list only in
        // a day search.
        const bool timeList = plan_.kind == Kind::Day;
        const Bytes answer = Garbage(timeList ? kTimeListSize : kMonthTableSize);
        Send(Joined(Header(PACKET_CONTROL, REPLY_SEARCH), answer), afterCommand);
        Note(timeList ? "time list" : "month table");
        expect().searchAnswers += 1;
        expect().monthWParam = static_cast<long>(dvrType_);
        expect().searchAnswer = answer;
        if (status_[0] & (STATUS_DVR_D | 0x80 | 0x100)) {
            Note("kept");
            return;
        }
        expect().ending = Ending::Answered;
        over_ = true;
    }

    void HostEnds()
    {
        // The last packet says the control has taken all before it.
        SetupRecord();
        expect().ending = Ending::HostEnds;
        expect().realShown = realKeySent_ && realShowable_ && plan_.kind != Kind::Month && plan_.kind != Kind::Day;
    }

    void Terminal()
    {
        const uint32_t choice = Below(100);
        if (choice < 35) {
            HostEnds();
        } else if (choice < 50) {
            End(HostileStep::End::Close);
            Note("closed");
            Lost();
        } else if (choice < 60) {
            // Only once the control has spoken, so the login answer is in
            // before the reset can take it.
            HostileStep s;
            s.end = HostileStep::End::Reset;
            s.afterCommand = CONTROL_CHANNEL_MASK;
            plan_.script.steps.push_back(s);
            Note("reset");
            expect().exact = false;
            Lost();
        } else if (choice < 75) {
            CutPacket();
        } else if (choice < 87) {
            ImpossibleLength();
        } else if (choice < 93 && !eventLog_) {
            EventCountBeyondTheTable();
        } else {
            SearchAnswer(std::nullopt);
            if (!over_)
                HostEnds();
        }
    }

    void EventLogAnswer()
    {
        const uint32_t choice = Below(100);
        if (choice < 15) {
            EventCountBeyondTheTable(CMD_EVENT_LOG);
            return;
        }
        uint32_t count;
        if (choice < 50)
            count = 0; // nothing new: the commonest answer of all
        else if (choice < 85)
            count = 1 + Below(50);
        else if (choice < 97)
            count = 51 + Below(2000);
        else
            count = kMaxEventRecords;
        const Bytes packet = EventListPacket(count, count);
        if (count > 0 && Chance(12)) {
            // Cut inside the records: the list cannot be read.
            Step(Bytes(packet.begin(), packet.begin() + static_cast<long>(DvrPacketHeader::kSize +
                                                                          Below(count * kEventRecordSize))),
                 0, CMD_EVENT_LOG);
            End(HostileStep::End::Close);
            Note("event list of " + std::to_string(count) + " cut");
            expect().ending = Ending::LinkError;
            expect().linkErrorCode = 0;
            expect().linkErrorIndex = kEventDisplayIndex;
            expect().eventTableCleared = true;
            over_ = true;
            return;
        }
        Send(packet, CMD_EVENT_LOG);
        Note("event list of " + std::to_string(count));
        expect().ending = Ending::Answered;
        expect().eventAnswer = true;
        expect().eventCount = count;
        expect().eventRecords.assign(packet.begin() + DvrPacketHeader::kSize, packet.end());
        over_ = true;
    }

    void Session()
    {
        for (uint32_t n = Below(25); n > 0 && !over_; --n)
            Survive();
        if (over_)
            return;
        switch (plan_.kind) {
        case Kind::EventLog:
            if (Chance(75)) {
                EventLogAnswer();
            } else {
                const uint32_t choice = Below(3);
                if (choice == 0) {
                    End(HostileStep::End::Close);
                    Note("closed");
                    Lost();
                } else if (choice == 1) {
                    ImpossibleLength();
                } else {
                    SearchAnswer(std::nullopt);
                }
            }
            break;
        case Kind::Month:
        case Kind::Day:
            if (Chance(70)) {
                SearchAnswer(CMD_SEARCH);
                if (!over_)
                    HostEnds();
            } else {
                Terminal();
            }
            break;
        case Kind::Setup:
            if (Chance(75)) {
                if (Chance(15)) {
                    const Expectation before = expect();
                    const Bytes packet = SetupRecordPacket(Below(kBoundChannels));
                    expect() = before; // never read whole
                    Step(Bytes(packet.begin(), packet.begin() + static_cast<long>(DvrPacketHeader::kSize +
                                                                                  Below(kSetupRecordSmallSize))),
                         0, CMD_GET_SETUP);
                    End(HostileStep::End::Close);
                    Note("setup record cut");
                    Lost();
                } else {
                    SetupRecord(CMD_GET_SETUP);
                    HostEnds();
                }
            } else {
                Terminal();
            }
            break;
        default: Terminal(); break;
        }
    }

    std::mt19937 random_;
    Plan plan_;
    bool remote_ = false, eventLog_ = false, over_ = false;
    int32_t dvrType_ = 1; // the control's until a login accepted with 0x1001 sets it
    std::array<long, kChannelCount> display_;
    std::array<bool, kChannelCount> stopped_, first_;
    std::array<uint32_t, kChannelCount> lastWidth_, lastHeight_;
    std::array<int32_t, kChannelCount> status_;
    std::size_t realNext_ = 0, implausibleNext_ = 0;
    bool realKeySent_ = false;
    bool realShowable_ = false; // a real frame the session shows has been sent
};

// ---- the lookup service's answers ------------------------------------------------

Bytes LookupMessage(uint8_t code, uint8_t error, Bytes payload, int declaredLength = -1)
{
    Bytes m(kLookupHeaderSize + payload.size());
    LookupHeader h;
    h.code = code;
    h.error = error;
    h.length = static_cast<uint16_t>(declaredLength >= 0 ? declaredLength : static_cast<int>(payload.size()));
    WriteLookupHeader(h, m.data());
    ScrambleLookupPayload(payload.data(), payload.size());
    std::copy(payload.begin(), payload.end(), m.begin() + kLookupHeaderSize);
    return m;
}

Bytes AddressPayload(int port, std::size_t nameLength = 3, int declaredNameLength = -1)
{
    Bytes p = {127, 0, 0, 1, 0, static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8),
               static_cast<uint8_t>(declaredNameLength >= 0 ? declaredNameLength : static_cast<int>(nameLength))};
    for (std::size_t k = 0; k < nameLength; ++k)
        p.push_back(static_cast<uint8_t>('A' + k % 26));
    return p;
}

std::vector<Bytes> LookupAnswer(LookupReply reply, int dvrPort, int refusingPort, std::mt19937& random)
{
    switch (reply) {
    case LookupReply::Address: return {LookupMessage(4, 0, AddressPayload(dvrPort))};
    case LookupReply::BadPassword: return {LookupMessage(4, LOOKUP_BAD_PASSWORD, {})};
    case LookupReply::Busy: return {LookupMessage(4, LOOKUP_BUSY, {})};
    case LookupReply::NoId: return {LookupMessage(4, LOOKUP_NO_ID, {})};
    case LookupReply::NotReady: return {LookupMessage(4, LOOKUP_NOT_READY, {})};
    case LookupReply::OtherError: {
        const uint8_t others[] = {3, 4, 5, 6, 7, 10, 11, 200, 255};
        return {LookupMessage(4, others[random() % std::size(others)], AddressPayload(dvrPort))};
    }
    case LookupReply::BadMagic: {
        Bytes m = LookupMessage(4, 0, AddressPayload(dvrPort));
        m[0] ^= static_cast<uint8_t>(1 + random() % 255);
        return {m};
    }
    case LookupReply::TooLong: {
        const int declared = static_cast<int>(kLookupMaxPayload + 1 + random() % 1000);
        return {LookupMessage(4, 0, AddressPayload(dvrPort), declared)};
    }
    case LookupReply::Cut: {
        Bytes m = LookupMessage(4, 0, AddressPayload(dvrPort, 20));
        m.resize(kLookupHeaderSize + random() % 20);
        return {m};
    }
    case LookupReply::Short: return {LookupMessage(4, 0, Bytes{127, 0, 0, 1, 0, 1})};
    case LookupReply::NameBeyond:
        return {LookupMessage(4, 0, AddressPayload(dvrPort, 3, 4 + static_cast<int>(random() % 250)))};
    case LookupReply::Unanswered: return {};
    case LookupReply::ClosedPort: return {LookupMessage(4, 0, AddressPayload(refusingPort))};
    case LookupReply::OddCodeLongName:
        return {LookupMessage(static_cast<uint8_t>(random()), 0, AddressPayload(dvrPort, 200 + random() % 56))};
    case LookupReply::Split: {
        const Bytes m = LookupMessage(4, 0, AddressPayload(dvrPort));
        const std::size_t at = 1 + random() % (m.size() - 1);
        return {Bytes(m.begin(), m.begin() + static_cast<long>(at)), Bytes(m.begin() + static_cast<long>(at), m.end())};
    }
    case LookupReply::Empty: return {LookupMessage(4, 0, {})};
    case LookupReply::Count: break;
    }
    return {};
}

// ---- one session, from its start to its control's close ----------------------------

class HostileSession;
HostileSession* lastTold = nullptr; // the session whose host heard last; boxes follow their notices

class HostileSession {
public:
    // The IDs the lookup service answers for, with their sessions.
    static std::mutex registryLock;
    static std::map<std::string, HostileSession*> registry;

    explicit HostileSession(Plan p) : plan(std::move(p))
    {
        dvr = std::make_unique<FakeDvr>([this](int login) {
            if (login == 0)
                return plan.script;
            HostileScript polite;
            polite.loginReply = plan.politeLogin;
            return polite;
        });
        id = "H" + std::to_string(plan.seed % 10000000);
        host.onMessage = [this](const HostWindow::Entry&) { lastTold = this; };
        ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(16);
        const Kind kind = plan.kind;
        if (kind == Kind::EventLog) {
            ctrl->SetBackupMode(3);
            ctrl->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(dvr->Port()),
                               static_cast<int16_t>(kEventDisplayIndex), 0, 0);
            ctrl->Connect(0);
        } else {
            if (RemoteKind(kind))
                ctrl->SetBackupMode(1);
            const bool byId = kind == Kind::Lookup;
            if (byId) {
                std::lock_guard<std::mutex> lock(registryLock);
                registry[id] = this;
            }
            for (int ch = 0; ch < kBoundChannels; ++ch)
                ctrl->SetConnectInfo("C" + std::to_string(ch), byId ? id : "Guest", byId ? "pw" : "", "",
                                     byId ? "" : "127.0.0.1", static_cast<int16_t>(byId ? kDefaultPort : dvr->Port()),
                                     0, static_cast<int16_t>(ch + 1), 0, static_cast<int16_t>(kDisplayIndex[ch]));
            if (kind == Kind::Playback)
                ctrl->StartDVRPlaybackTime(static_cast<int32_t>(std::time(nullptr) - 600), 0, 0);
            else if (kind == Kind::Month || kind == Kind::Day)
                ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), kind == Kind::Day ? 1 : 0);
            else
                for (int16_t ch = 0; ch < kBoundChannels; ++ch)
                    ctrl->Connect(ch);
        }
        stageSince = Clock::now();
    }

    ~HostileSession()
    {
        if (lastTold == this)
            lastTold = nullptr;
        {
            std::lock_guard<std::mutex> lock(registryLock);
            registry.erase(id);
        }
        delete ctrl;
    }

    // One look at the session; true once it is over and checked.
    bool Step()
    {
        if (stage == Stage::Done)
            return true;
        if (Clock::now() - stageSince > kEndBound) {
            Fail(std::string("stuck ") + StageName() + "; expected: " + EndingName(plan.expect.ending) + "; " +
                 Seen());
            Close();
            return true;
        }
        switch (stage) {
        case Stage::Running:
            Poke();
            if (Reached())
                Advance();
            break;
        case Stage::Ending:
            if (!ctrl->LoggedIn() && (!logoutOwed || FirstSessionLoggedOut()))
                Close();
            break;
        case Stage::Done: break;
        }
        return stage == Stage::Done;
    }

    Plan plan;
    std::string id;
    std::unique_ptr<FakeDvr> dvr;
    RefusingPort refusing; // where a lookup may send the control first
    HostWindow host;
    CVyrdaxCtrl* ctrl = nullptr;
    std::vector<std::string> boxes;
    std::vector<std::string> failures;
    std::chrono::milliseconds closeTook{0};

private:
    enum class Stage { Running, Ending, Done };
    const char* StageName() const { return stage == Stage::Running ? "running" : "ending"; }

    void Fail(const std::string& what) { failures.push_back(what); }

    std::string Seen() const
    {
        std::ostringstream out;
        out << "logged in " << ctrl->LoggedIn() << ", DVR logins " << dvr->Logins() << ", messages:";
        for (const auto& m : host.messages)
            out << " " << std::hex << m.message << std::dec << "(" << m.wParam << "," << m.lParam << ")";
        out << ", boxes " << boxes.size();
        return out.str();
    }

    std::map<long, int> Counted(uint32_t message) const
    {
        std::map<long, int> counted;
        for (const auto& e : host.Of(message))
            ++counted[e.lParam];
        return counted;
    }

    bool FirstSessionLoggedOut() const
    {
        const auto sessions = dvr->Sessions();
        return !sessions.empty() && sessions[0].ended && sessions[0].byLogout;
    }

    bool FirstSessionEnded() const
    {
        const auto sessions = dvr->Sessions();
        return !sessions.empty() && sessions[0].ended;
    }

    // The control sends its channel mask first thing once logged in.
    bool FirstSessionLoggedIn() const
    {
        const auto sessions = dvr->Sessions();
        return !sessions.empty() && !sessions[0].commands.empty();
    }

    // Asks what the session's kind asks once the login is in.
    void Poke()
    {
        if (plan.kind == Kind::Setup && !asked && ctrl->LoggedIn()) {
            asked = true;
            ctrl->CmdToDVR(CMD_GET_SETUP, 0, 0);
        }
        if (plan.kind == Kind::EventLog && !asked && host.Count(WM_VIDEO_PROGRESS, 0) > 0) {
            asked = true;
            ctrl->CmdToDVR(CMD_EVENT_LOG, 0, 0);
        }
    }

    int Assigned() const { return plan.kind == Kind::EventLog ? 1 : kBoundChannels; }

    // Every notice the session's packets owe the host has come. They come in
    // the order of the packets, but a notice of the packet that ends the
    // session can follow the end itself.
    bool Told() const
    {
        const Expectation& e = plan.expect;
        auto atLeast = [](const std::map<long, int>& got, const std::map<long, int>& want) {
            for (const auto& [index, n] : want)
                if (!got.count(index) || got.at(index) < n)
                    return false;
            return true;
        };
        return !e.exact ||
               (atLeast(Counted(WM_VIDEO_ALARM), e.alarms) && atLeast(Counted(WM_VIDEO_ALARM2), e.alarms2) &&
                atLeast(Counted(WM_VIDEO_STARTED), e.started) && host.Count(WM_VIDEO_DVR_DATA) >= e.dvrData);
    }

    bool Reached() { return Ended() && Told(); }

    bool Ended()
    {
        const Expectation& e = plan.expect;
        switch (e.ending) {
        case Ending::HostEnds:
            return host.Count(WM_VIDEO_DVR_DATA) >= e.dvrData &&
                   (!e.realShown || ctrl->Channel(plan.real).framesShown.load() > 0);
        case Ending::Answered:
            return (host.Count(WM_VIDEO_PROGRESS, 1) > 0 || host.Count(WM_VIDEO_MONTH_DATA) > 0 ||
                    host.Count(WM_VIDEO_TIME_DATA) > 0) &&
                   !ctrl->LoggedIn() && FirstSessionEnded();
        case Ending::Reconnects: return dvr->Logins() >= 2;
        case Ending::LostTold:
        case Ending::RefusedTold: return host.Count(WM_VIDEO_PROGRESS, 0) >= Assigned() && !boxes.empty();
        case Ending::NotAnsweredTold:
            return host.Count(WM_VIDEO_PROGRESS, plan.kind == Kind::EventLog ? 3 : 0) >= Assigned();
        case Ending::LinkError: return host.Count(WM_VIDEO_LINK_ERROR) > 0 && !ctrl->LoggedIn();
        // Over a broken connection the logout cannot go out: the DVR sees
        // the end only when the control closes.
        case Ending::EndedQuietly: return !ctrl->LoggedIn() && FirstSessionLoggedIn();
        case Ending::LookupRefused:
            return ctrl->Pane(0) && ctrl->Pane(0)->LeftTitle()->Title().toStdString() == plan.expect.lookupTitle;
        }
        return false;
    }

    // The host ends what is still open.
    void Advance()
    {
        const Ending ending = plan.expect.ending;
        if (ending == Ending::HostEnds) {
            loggedInAtTheEnd = ctrl->LoggedIn();
            logoutOwed = true;
        }
        if (ending == Ending::HostEnds || ending == Ending::Reconnects || ending == Ending::LookupRefused) {
            if (RemoteKind(plan.kind))
                ctrl->DisconnectBackup();
            else
                for (int16_t ch = 0; ch < kBoundChannels; ++ch)
                    ctrl->DisConnectSvr(ch);
        }
        stage = Stage::Ending;
        stageSince = Clock::now();
    }

    template <typename T>
    void Same(const char* what, const T& got, const T& want)
    {
        if (!(got == want)) {
            std::ostringstream out;
            out << what << ": got " << got << ", want " << want;
            Fail(out.str());
        }
    }

    void SameCounts(const char* what, const std::map<long, int>& got, const std::map<long, int>& want)
    {
        bool ok = plan.expect.exact ? got == want : true;
        if (!plan.expect.exact)
            for (const auto& [index, n] : got)
                ok = ok && want.count(index) && n <= want.at(index);
        if (ok)
            return;
        std::ostringstream out;
        out << what << " by display index: got";
        for (const auto& [index, n] : got)
            out << " " << index << ":" << n;
        out << ", want" << (plan.expect.exact ? "" : " at most");
        for (const auto& [index, n] : want)
            out << " " << index << ":" << n;
        Fail(out.str());
    }

    void Check()
    {
        const Expectation& e = plan.expect;
        const Kind kind = plan.kind;
        if (e.ending == Ending::HostEnds && !loggedInAtTheEnd)
            Fail("not logged in when the host ended the session");
        SameCounts("WM_VIDEO_ALARM", Counted(WM_VIDEO_ALARM), e.alarms);
        SameCounts("WM_VIDEO_ALARM2", Counted(WM_VIDEO_ALARM2), e.alarms2);
        SameCounts("WM_VIDEO_STARTED", Counted(WM_VIDEO_STARTED), e.started);

        // Tables and the notices that announce them.
        const auto dvrData = host.Of(WM_VIDEO_DVR_DATA);
        if (e.exact)
            Same("WM_VIDEO_DVR_DATA count", static_cast<int>(dvrData.size()), e.dvrData);
        if (e.exact && !dvrData.empty() && static_cast<int>(dvrData.size()) == e.dvrData) {
            Same("WM_VIDEO_DVR_DATA wParam", dvrData.back().wParam, e.dvrDataWParam);
            Same("WM_VIDEO_DVR_DATA lParam", dvrData.back().lParam, e.dvrDataLParam);
            const platform::Variant record = ctrl->GetDVRData();
            if (record.ptrSize != e.setupRecord.size() ||
                !std::equal(e.setupRecord.begin(), e.setupRecord.end(), static_cast<const uint8_t*>(record.ptr)))
                Fail("the setup record is not the one received, " + std::to_string(record.ptrSize) + " B");
        }
        const int searches = host.Count(WM_VIDEO_MONTH_DATA) + host.Count(WM_VIDEO_TIME_DATA);
        Same("search answers", searches, e.searchAnswers);
        if (searches == 1 && e.searchAnswers == 1) {
            const bool timeList = host.Count(WM_VIDEO_TIME_DATA) == 1;
            const platform::Variant table = timeList ? ctrl->GetTimeData() : ctrl->GetMonthData();
            if (table.ptrSize != e.searchAnswer.size() ||
                !std::equal(e.searchAnswer.begin(), e.searchAnswer.end(), static_cast<const uint8_t*>(table.ptr)))
                Fail("the search answer is not the one received");
            if (!timeList)
                Same("WM_VIDEO_MONTH_DATA wParam", host.Of(WM_VIDEO_MONTH_DATA)[0].wParam, e.monthWParam);
        }
        if (kind == Kind::EventLog) {
            const platform::Variant table = ctrl->GetEventData();
            const auto* bytes = static_cast<const uint8_t*>(table.ptr);
            if (e.eventAnswer) {
                Same("event count", Get32(bytes), e.eventCount);
                if (!std::equal(e.eventRecords.begin(), e.eventRecords.end(), bytes + 4))
                    Fail("the event records are not the ones received");
            } else if (e.eventTableCleared) {
                Same("event count after a list that could not be taken", Get32(bytes), 0u);
            }
        }

        // What the host is told of the end, to each channel once.
        std::vector<int> told;
        for (const auto& m : host.Of(WM_VIDEO_PROGRESS))
            told.push_back(static_cast<int>(m.wParam * 100 + m.lParam));
        std::vector<int> owed;
        auto each = [&](int wParam) {
            if (kind == Kind::EventLog)
                owed.push_back(static_cast<int>(wParam * 100 + kEventDisplayIndex));
            else
                for (long index : kDisplayIndex)
                    owed.push_back(static_cast<int>(wParam * 100 + index));
        };
        if (kind == Kind::EventLog && e.loginAccepted)
            each(0);
        if (kind == Kind::EventLog && e.eventAnswer)
            each(1);
        if (e.ending == Ending::NotAnsweredTold)
            each(kind == Kind::EventLog ? 3 : 0);
        if (e.ending == Ending::LostTold || e.ending == Ending::RefusedTold)
            each(0);
        if (told != owed) {
            std::ostringstream out;
            out << "WM_VIDEO_PROGRESS (wParam * 100 + lParam): got";
            for (int t : told)
                out << " " << t;
            out << ", want";
            for (int o : owed)
                out << " " << o;
            Fail(out.str());
        }
        const auto linkErrors = host.Of(WM_VIDEO_LINK_ERROR);
        if (e.ending == Ending::LinkError) {
            if (linkErrors.size() != 1)
                Fail("WM_VIDEO_LINK_ERROR " + std::to_string(linkErrors.size()) + " times");
            else {
                Same("WM_VIDEO_LINK_ERROR wParam", linkErrors[0].wParam, static_cast<long>(e.linkErrorCode));
                Same("WM_VIDEO_LINK_ERROR lParam", linkErrors[0].lParam, e.linkErrorIndex);
            }
        } else if (!linkErrors.empty()) {
            Fail("WM_VIDEO_LINK_ERROR " + std::to_string(linkErrors[0].wParam));
        }
        std::vector<std::string> owedBoxes;
        if (e.ending == Ending::LostTold)
            owedBoxes.push_back(text::kDvrLost);
        if (e.ending == Ending::RefusedTold)
            owedBoxes.push_back(text::kInvalidLogin);
        if (boxes != owedBoxes) {
            std::string got;
            for (const auto& b : boxes)
                got += " \"" + b + "\"";
            Fail("boxes:" + got + ", want " + std::to_string(owedBoxes.size()));
        }
        if (e.ending == Ending::LookupRefused && dvr->Logins() != 0)
            Fail("a refused lookup still reached the DVR");

        // Frames that cannot be shown are not: a DVR time no calendar has,
        // a size or channel beyond any.
        if (kind != Kind::EventLog) {
            Same("frames shown of the channel with impossible times",
                 ctrl->Channel(plan.implausible).framesShown.load(), uint64_t{0});
            Same("frames shown of the channel of impossible sizes", ctrl->Channel(plan.outside).framesShown.load(),
                 uint64_t{0});
        }
    }

    void Close()
    {
        Check();
        const auto start = Clock::now();
        delete ctrl;
        ctrl = nullptr;
        closeTook = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        if (closeTook > kCloseBound)
            Fail("the control took " + std::to_string(closeTook.count()) + " ms to close");
        stage = Stage::Done;
    }

    Stage stage = Stage::Running;
    Clock::time_point stageSince;
    bool asked = false;
    bool logoutOwed = false;
    bool loggedInAtTheEnd = false;
};

std::mutex HostileSession::registryLock;
std::map<std::string, HostileSession*> HostileSession::registry;

class HostileDvrTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        previousBoxes_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            if (lastTold)
                lastTold->boxes.push_back(text);
            else
                unattributedBoxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previousBoxes_); }

    std::vector<std::string> unattributedBoxes;

private:
    platform::MessageBoxHandler previousBoxes_;
};

std::vector<uint32_t> Seeds(Kind kind)
{
    if (const char* one = std::getenv("VYR_HOSTILE_SEED"))
        return {static_cast<uint32_t>(std::strtoul(one, nullptr, 10))};
    std::vector<uint32_t> seeds;
    for (int k = 0; k < kSessionsPerKind; ++k)
        seeds.push_back(static_cast<uint32_t>(1000 * (static_cast<int>(kind) + 1) + k));
    return seeds;
}

TEST_P(HostileDvrTest, EverySessionEndsAsWhatItReceivedSaysAndItsControlClosesPromptly)
{
    if (!std::getenv("VYR_LINK_HOSTILE"))
        GTEST_SKIP() << "runs in its own ctest entry, with the time-outs it needs";
    const Kind kind = GetParam();
    ASSERT_FALSE(RealFrames().empty());
    vyrtest::FakeAudio sound; // the speaker plays into the test, not the machine
    ScriptedLookupService lookup([](const std::string& id, int asked) {
        std::lock_guard<std::mutex> lock(HostileSession::registryLock);
        const auto it = HostileSession::registry.find(id);
        if (it == HostileSession::registry.end())
            return std::vector<Bytes>{};
        const Plan& plan = it->second->plan;
        std::mt19937 random(plan.seed);
        return LookupAnswer(asked == 0 ? plan.lookup : LookupReply::Address, it->second->dvr->Port(),
                            it->second->refusing.Port(), random);
    });
    ASSERT_GT(lookup.Port(), 0);
    platform::RegistryWriteString(kControlRegistryKey, "LookupHost", "127.0.0.1");
    platform::RegistryWriteInt(kControlRegistryKey, "LookupPort", lookup.Port());

    const std::vector<uint32_t> seeds = Seeds(kind);
    std::vector<std::unique_ptr<HostileSession>> running;
    std::size_t next = 0;
    int sessions = 0;
    std::map<std::string, int> endings;
    std::chrono::milliseconds slowestClose{0};
    const auto begun = Clock::now();
    // VYR_HOSTILE_STORIES=1 tells what each session was sent and how it ended.
    const bool stories = std::getenv("VYR_HOSTILE_STORIES") != nullptr;
    auto report = [&](HostileSession& s) {
        if (stories)
            std::printf("seed %u: %s; %s\n", s.plan.seed, EndingName(s.plan.expect.ending), s.plan.story.c_str());
        else
            std::printf("seed %u ends\n", s.plan.seed);
        std::fflush(stdout);
        ++sessions;
        ++endings[EndingName(s.plan.expect.ending)];
        slowestClose = std::max(slowestClose, s.closeTook);
        for (const std::string& f : s.failures)
            ADD_FAILURE() << "seed " << s.plan.seed << " (" << KindName(kind) << ", "
                          << EndingName(s.plan.expect.ending) << "): " << f << "\n  the DVR sent: " << s.plan.story;
    };
    const bool allEnded = PumpUntil(
        [&] {
            while (running.size() < kSideBySide && next < seeds.size()) {
                // Named before it runs: a session the sanitizers stop is
                // one of those started and not yet ended.
                const uint32_t seed = seeds[next++];
                std::printf("seed %u (%s) starts\n", seed, KindName(kind));
                std::fflush(stdout);
                running.push_back(std::make_unique<HostileSession>(Generator(seed, kind).Make()));
            }
            for (auto it = running.begin(); it != running.end();) {
                if ((*it)->Step()) {
                    report(**it);
                    it = running.erase(it);
                } else {
                    ++it;
                }
            }
            return running.empty() && next == seeds.size();
        },
        10 * 60000);
    EXPECT_TRUE(allEnded) << running.size() << " sessions still running";
    running.clear();
    EXPECT_TRUE(unattributedBoxes.empty()) << unattributedBoxes.size() << " boxes no session caused, the first \""
                                           << (unattributedBoxes.empty() ? "" : unattributedBoxes[0]) << "\"";
    std::string summary;
    for (const auto& [ending, n] : endings)
        summary += " " + ending + ": " + std::to_string(n) + ";";
    std::printf("%s: %d sessions (seeds %u..%u) in %.1f s, slowest close %lld ms;%s\n", KindName(kind), sessions,
                seeds.front(), seeds.back(),
                std::chrono::duration<double>(Clock::now() - begun).count(),
                static_cast<long long>(slowestClose.count()), summary.c_str());
}

// A frame-interval code paces the live display: once a frame is taken, the
// next is taken that many sixtieths of a second later. A code no DVR would
// use holds the channel no longer than the slowest code a recording keeps
// (255), however long it says.
using FrameIntervalTest = LinkTest;

TEST_F(FrameIntervalTest, ACodeBeyondAnyHoldsTheLiveDisplayNoLongerThanTheSlowestOne)
{
    const auto& frames = RealFrames();
    ASSERT_FALSE(frames.empty());
    const std::size_t count = 2 * frames.size();
    constexpr int kGapMs = 100;
    for (const uint32_t code : {1000000u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(code);
        // Ten frames a second, so the display has taken each before the
        // next comes; the sixth carries the code.
        HostileScript script;
        script.loginReply = Header(PACKET_SESSION, LOGIN_ACCEPTED);
        for (std::size_t k = 0; k < count; ++k) {
            Video v;
            v.frameType = frames[k % frames.size()].key ? 0 : 1;
            v.streamWord = static_cast<uint32_t>(k % 5);
            v.intervalCode = k == 5 ? code : 0;
            v.payload = frames[k % frames.size()].bytes;
            HostileStep step;
            step.bytes = VideoPacket(v, static_cast<uint32_t>(v.payload.size()));
            step.afterCommand = CONTROL_CHANNEL_MASK;
            step.delayMs = kGapMs;
            script.steps.push_back(step);
        }
        FakeDvr dvr([&](int) { return script; });
        if (!ctrl) {
            ctrl = new CVyrdaxCtrl(&host);
            ctrl->setDispChannel(16);
        }
        Bind(0, "Front", 0, dvr.Port());
        ASSERT_TRUE(ctrl->Connect(0));
        // The stream's own time, the slowest code's 256 sixtieths of a
        // second and 30 ms, then load's margin.
        constexpr int kSlowestMs = 1000 * 256 / 60 + 30;
        EXPECT_TRUE(PumpUntil([&] { return ctrl->Channel(0).framesShown.load() >= count; },
                              static_cast<int>(count) * kGapMs + kSlowestMs + 10000))
            << ctrl->Channel(0).framesShown.load() << " of " << count << " frames shown";
        DestroyControl();
    }
}

INSTANTIATE_TEST_SUITE_P(Hostile, HostileDvrTest,
                         ::testing::Values(Kind::Live, Kind::Setup, Kind::Playback, Kind::Month, Kind::Day,
                                           Kind::EventLog, Kind::Lookup),
                         [](const auto& info) { return std::string(KindName(info.param)); });

} // namespace
