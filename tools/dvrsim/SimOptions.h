// Command line of the DVR simulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvrsim {

enum class Fault { None, Silence, Close, Reset, Garbage, Oversize, BadCount, BadChannel };

struct SimOptions {
    std::string bindAddress = "127.0.0.1";
    int port = 9201;
    bool allowNonLoopback = false;
    int maxClients = 32;

    int channels = 4;
    int width = 352;
    int height = 240;
    double fps = 30.0;
    int gop = 15;
    int loopFrames = 0;  // 0: two groups of pictures
    int interlace = 0;
    int quant = 5;
    int statusKind = 1;
    std::uint32_t alarmBits = 0;
    int alarmEvery = 0;
    bool audio = false;   // G.723 sound for every live channel of the mask

    std::string user = "Guest";
    std::string password;
    int dvrType = -1;     // -1: channels + 1 (a 4-channel DVR reports 5)
    int right = 15;
    int signalType = -1;  // -1: 1 for 576-line pictures, else 0

    int events = 100;
    std::string eventsFile;
    int recordingDays = 7;
    std::string setupFile;
    std::string setupUploadFile;  // each upload's bytes, for a test to compare

    int lookupPort = -1;  // -1: no lookup service
    std::string dvrId = "dvrsim";
    std::string lookupError;  // "", busy, badpw, noid, error

    Fault fault = Fault::None;
    int faultAfter = 0;

    // Play-back: frames go out as fast as the client takes them (a DVR held
    // back only by TCP), each stamped one frame interval after the one
    // before, instead of one per frame interval.
    bool playbackByTcp = false;
    // Live video goes on this long after command 14 before the play-back
    // starts, as a DVR seeking its recordings.
    int seekMs = 0;

    std::string logFile;  // empty: stdout
    int keepAliveSeconds = 5;
    int exitAfterSeconds = 0;
    int leaseSeconds = 0;

    int resolvedDvrType() const { return dvrType >= 0 ? dvrType : (channels == 4 ? 5 : channels + 1); }
    int resolvedSignalType() const { return signalType >= 0 ? signalType : (height == 576 ? 1 : 0); }
    int resolvedLoopFrames() const;
    // Frames are r + 1 sixtieths of a second apart, thirtieths when interlaced.
    std::uint32_t frameIntervalCode() const;
};

// Parses argv; on error or --help returns false with the text to print in
// `message` (and `wantsHelp` set for --help).
bool parseOptions(const std::vector<std::string>& args, SimOptions& options, std::string& message,
                  bool& wantsHelp);

const char* usageText();
const char* faultName(Fault fault);

}  // namespace dvrsim
