#include "SimOptions.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace dvrsim {

namespace {

const char kUsage[] =
    R"(dvrsim - a DVR and address-lookup simulator for testing the DVR clients

Usage: dvrsim [options]

Network (only loopback addresses unless --allow-nonloopback):
  --bind ADDR           IPv4 address to listen on (127.0.0.1)
  --port P              DVR port; 0 picks a free port (9201)
  --allow-nonloopback   permit a --bind address outside 127.0.0.0/8
  --max-clients N       simultaneous DVR connections, more are closed (32)
  --exit-after S        stop by itself after S seconds; 0 never (0)
  --lease S             live while standard input stays open and brings a byte
                        at least every S seconds; stop as on SIGTERM when it
                        ends or stays silent longer; 0 does not watch it (0)
  --keepalive S         send a control reply code 1 (nothing follows) after S
                        seconds without any other packet; 0 never (5)

Video (real MPEG-4, pre-encoded once per channel at start-up, then replayed):
  --channels N          channels served, 1..64 (4); the 32-bit channel mask
                        reaches channels 0..31 only
  --size WxH            352x240, 704x480 or 720x576 (352x240)
  --fps F               frames per second per channel, 1..60 (30)
  --gop G               a key frame every G frames, 1..300 (15)
  --loop-frames N       frames in each channel's loop, rounded up to whole
                        groups of pictures (2 x gop)
  --interlace 0|1       interlace flag of the stream and the headers (0)
  --quant Q             encoder quantiser 2..31 (5)
  --status-kind K       channel status byte of live frames, 1..6 (1)
  --alarm BITS          event bits set on alarm frames (0)
  --alarm-every N       every Nth frame of a channel carries --alarm (0: none)
  --audio 0|1           send G.723 24 kbit/s sound (type 3, +16 the channel) for
                        every live channel of the mask: 768 bytes every 256 ms,
                        a tone of 400 Hz + 100 Hz per channel number (0)

Remote play-back (command 14):
  --playback-pace P     real: one frame per channel every frame interval;
                        tcp: as fast as the client reads them, as a DVR held
                        back only by TCP, each stamped one frame interval
                        after the one before (real)
  --seek-ms MS          live video goes on for MS ms after command 14 before
                        the play-back starts, as a DVR seeking (0)

Login:
  --user ID             accepted login ID, compared on its first 8 bytes (Guest)
  --password PW         accepted password, first 8 bytes (empty)
  --dvr-type T          DVR type in the login reply (channels + 1, 4 reports 5);
                        below 16 the setup record has 12044 bytes, else 23736
  --right R             user right level, bits 0-3 of the reply's +32 (15)
  --signal-type S       video signal type, bit 16 of the reply's +32
                        (1 for 576-line pictures, else 0)

Data the DVR answers with:
  --events N            generated event-log records, 0..65536 (100): record k
                        (from 0) has key k+1 and the time start-up - (N-k) min
  --events-file F       serve F (24-byte records) instead of generated events;
                        F is read again at every command 32 (the list read at
                        start-up stands in while F cannot be read)
                        Command 32 returns the records at or after its packed
                        time (all of them for time 0).
  --recordings DAYS     days with recordings: today and the DAYS-1 days before
                        it (7); command 33 flag 0 marks them in the month table,
                        flag 1 fills the day's time list for every served
                        channel with codes 19..23 (and 0 gaps)
  --setup-file F        initial setup record (12044 or 23736 bytes, matching
                        the DVR type); otherwise byte i is (i mod 251). An
                        uploaded record (command 19) replaces it for later
                        requests (command 18), for every client.
  --setup-upload-file F write each uploaded record to F (truncated), before
                        its SETUP-UPLOAD line is logged

Lookup service:
  --lookup-port P       serve the lookup protocol on P; 0 picks a free port
  --dvr-id ID           the DVR ID the lookup service knows (dvrsim)
  --lookup-error E      answer every request with busy (2), badpw (1),
                        noid (8) or error (9)
  Without --lookup-error: an unknown ID gets 8, a wrong password 1 (first 8
  bytes compared with --password), otherwise the reply carries the --bind
  address (127.0.0.1 for 0.0.0.0), the DVR port and the name --dvr-id.

Faults (each connection, counted in video frames sent on it):
  --fault KIND          silence    send nothing at all after the login reply
                        close      close the connection after K frames
                        reset      reset the connection (RST) after K frames
                        garbage    after K frames send random bytes instead
                        oversize   after K frames one video header of length
                                   131073 + its payload, then carry on
                        bad-count  event-log reply with count 100000 and
                                   100000 records
                        bad-channel after K frames one frame with channel 99,
                                   then carry on
  --fault-after K       (0)

Logging:
  --log FILE            log lines to FILE (truncated), else to stdout
  --help                this text

Standard output starts with "listening on PORT", then, with --lookup-port,
"lookup listening on PORT". One log line per event, flushed at once; #N is
the connection number (from 1); ID and password texts show bytes outside
0x21..0x7E and the backslash as \xNN, an empty text as "":
  CONNECT <ip>:<port> #N
  LOGIN <id> <password> <session kind +36> <audio option +44> ACCEPT|REFUSE #N
  LOGOUT #N
  MASK <mask, 8 hex digits> #N
  CMD <command> <+16 signed> <+20 signed> <bytes +24..+31, 16 hex digits> #N
  PTZ <code +16> <preset +24> <channel +20> #N
  SETUP-UPLOAD <bytes> <CRC-32, 8 hex digits> #N
  AUDIO <length +12> <channel +16> #N
  EVENTS-FILE <why it could not be read> #N
  REPLY EVENTS <count> #N | REPLY MONTH #N | REPLY DAY #N | REPLY SETUP <bytes> #N
  PLAYBACK <time_t> | PLAYBACK SPEED <n> | PLAYBACK PAUSE | PLAYBACK STOP  (#N)
  PACKET <type> <+12> #N          a packet the DVR ignores (or any before login)
  BAD-MAGIC #N                    a header without the magic; the link is closed
  FAULT <kind> #N
  CLOSE <reason> #N               peer, timeout, error, stop, bad-magic,
                                  bad-length, login-refused, fault, send,
                                  too-many-clients, setup-upload <why>
  LOOKUP <code> <id> <password> <error code>
  LOOKUP BAD-MESSAGE              a lookup message without the magic or too long
  STOP                            the simulator has stopped

Stops cleanly on SIGTERM or SIGINT (exit code 0).
)";

bool parseInt(const std::string& text, long low, long high, int& out)
{
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

const char* usageText()
{
    return kUsage;
}

const char* faultName(Fault fault)
{
    switch (fault) {
    case Fault::None: return "none";
    case Fault::Silence: return "silence";
    case Fault::Close: return "close";
    case Fault::Reset: return "reset";
    case Fault::Garbage: return "garbage";
    case Fault::Oversize: return "oversize";
    case Fault::BadCount: return "bad-count";
    case Fault::BadChannel: return "bad-channel";
    }
    return "none";
}

int SimOptions::resolvedLoopFrames() const
{
    const int wanted = loopFrames > 0 ? loopFrames : 2 * gop;
    return (wanted + gop - 1) / gop * gop;
}

std::uint32_t SimOptions::frameIntervalCode() const
{
    const double perSecond = interlace ? 30.0 : 60.0;
    const long r = std::lround(perSecond / fps) - 1;
    return r < 0 ? 0u : static_cast<std::uint32_t>(r);
}

bool parseOptions(const std::vector<std::string>& args, SimOptions& o, std::string& message,
                  bool& wantsHelp)
{
    wantsHelp = false;
    using Setter = std::function<bool(const std::string&)>;
    auto intIn = [](int& field, long low, long high) {
        return Setter([&field, low, high](const std::string& v) { return parseInt(v, low, high, field); });
    };
    auto text = [](std::string& field) {
        return Setter([&field](const std::string& v) { field = v; return true; });
    };
    const std::map<std::string, Setter> withValue = {
        {"--bind", text(o.bindAddress)},
        {"--port", intIn(o.port, 0, 65535)},
        {"--max-clients", intIn(o.maxClients, 1, 1024)},
        {"--exit-after", intIn(o.exitAfterSeconds, 0, 86400 * 7)},
        {"--lease", intIn(o.leaseSeconds, 0, 86400 * 7)},
        {"--keepalive", intIn(o.keepAliveSeconds, 0, 3600)},
        {"--channels", intIn(o.channels, 1, 64)},
        {"--size", [&o](const std::string& v) {
             if (v == "352x240") { o.width = 352; o.height = 240; }
             else if (v == "704x480") { o.width = 704; o.height = 480; }
             else if (v == "720x576") { o.width = 720; o.height = 576; }
             else return false;
             return true; }},
        {"--fps", [&o](const std::string& v) {
             char* end = nullptr;
             const double f = std::strtod(v.c_str(), &end);
             if (v.empty() || *end != '\0' || !(f >= 1.0 && f <= 60.0))
                 return false;
             o.fps = f;
             return true; }},
        {"--gop", intIn(o.gop, 1, 300)},
        {"--loop-frames", intIn(o.loopFrames, 1, 3000)},
        {"--interlace", intIn(o.interlace, 0, 1)},
        {"--quant", intIn(o.quant, 2, 31)},
        {"--status-kind", intIn(o.statusKind, 1, 6)},
        {"--alarm", [&o](const std::string& v) {
             int bits = 0;
             if (!parseInt(v, 0, 0x7FFFFFFF, bits))
                 return false;
             o.alarmBits = static_cast<std::uint32_t>(bits);
             return true; }},
        {"--alarm-every", intIn(o.alarmEvery, 0, 1000000)},
        {"--audio", [&o](const std::string& v) {
             if (v != "0" && v != "1")
                 return false;
             o.audio = v == "1";
             return true; }},
        {"--user", text(o.user)},
        {"--password", text(o.password)},
        {"--dvr-type", intIn(o.dvrType, 0, 0x7FFFFFFF)},
        {"--right", intIn(o.right, 0, 15)},
        {"--signal-type", intIn(o.signalType, 0, 1)},
        {"--events", intIn(o.events, 0, static_cast<long>(65536))},
        {"--events-file", text(o.eventsFile)},
        {"--recordings", intIn(o.recordingDays, 0, 3650)},
        {"--setup-file", text(o.setupFile)},
        {"--setup-upload-file", text(o.setupUploadFile)},
        {"--lookup-port", intIn(o.lookupPort, 0, 65535)},
        {"--dvr-id", text(o.dvrId)},
        {"--lookup-error", [&o](const std::string& v) {
             if (v != "busy" && v != "badpw" && v != "noid" && v != "error")
                 return false;
             o.lookupError = v;
             return true; }},
        {"--fault", [&o](const std::string& v) {
             static const std::map<std::string, Fault> kinds = {
                 {"silence", Fault::Silence}, {"close", Fault::Close}, {"reset", Fault::Reset},
                 {"garbage", Fault::Garbage}, {"oversize", Fault::Oversize},
                 {"bad-count", Fault::BadCount}, {"bad-channel", Fault::BadChannel}};
             const auto it = kinds.find(v);
             if (it == kinds.end())
                 return false;
             o.fault = it->second;
             return true; }},
        {"--fault-after", intIn(o.faultAfter, 0, 100000000)},
        {"--playback-pace", [&o](const std::string& v) {
             if (v != "real" && v != "tcp")
                 return false;
             o.playbackByTcp = v == "tcp";
             return true; }},
        {"--seek-ms", intIn(o.seekMs, 0, 600000)},
        {"--log", text(o.logFile)},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool hasValue = false;
        const auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            wantsHelp = true;
            message = kUsage;
            return false;
        }
        if (name == "--allow-nonloopback") {
            o.allowNonLoopback = true;
            continue;
        }
        const auto it = withValue.find(name);
        if (it == withValue.end()) {
            message = "unknown option " + name + " (see --help)";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                message = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!it->second(value)) {
            message = "bad value for " + name + ": " + value;
            return false;
        }
    }
    return true;
}

}  // namespace dvrsim
