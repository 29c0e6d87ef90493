// dvrsim-probe: logs in to a DVR on a loopback address, asks for channels and
// counts what arrives; used to check that simulators keep real time.
#include "SocketIo.h"
#include "Wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace dvrsim;

namespace {

int usage()
{
    std::fputs("Usage: dvrsim-probe --port P [--host 127.x.x.x] [--mask HEX] [--seconds S]\n"
               "                    [--user ID] [--password PW]\n"
               "Prints: frames <n> keyframes <k> fps <per channel> channels <c> MB/s <rate>\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string host = "127.0.0.1", user = "Guest", password;
    int port = 0;
    double seconds = 5;
    std::uint32_t mask = 0xF;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--port") port = std::atoi(value.c_str());
        else if (name == "--host") host = value;
        else if (name == "--mask") mask = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
        else if (name == "--seconds") seconds = std::atof(value.c_str());
        else if (name == "--user") user = value;
        else if (name == "--password") password = value;
        else return usage();
    }
    if (port <= 0 || !isLoopbackAddress(host))
        return usage();

    Socket s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &sa.sin_addr);
    if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::perror("connect");
        return 1;
    }
    std::atomic<bool> stop{false};
    PacketHeader login = makeHeader(kPacketSession, kSessionLogin);
    std::memcpy(&login[16], user.data(), std::min<std::size_t>(8, user.size()));
    std::memcpy(&login[24], password.data(), std::min<std::size_t>(8, password.size()));
    PacketHeader reply{};
    if (sendAll(s.fd(), login.data(), login.size(), stop, 15000) != IoResult::Ok ||
        receiveAll(s.fd(), reply.data(), reply.size(), stop, 10000, 10000) != IoResult::Ok ||
        getU32(&reply[12]) != kLoginAccepted) {
        std::fputs("login failed\n", stderr);
        return 1;
    }
    PacketHeader maskPacket = makeHeader(kPacketControl, kControlChannelMask);
    putU32(&maskPacket[16], mask);
    sendAll(s.fd(), maskPacket.data(), maskPacket.size(), stop, 60000);

    std::vector<std::uint8_t> payload(kMaxMediaPayload + 1);
    long frames = 0, keys = 0;
    double bytes = 0;
    std::vector<long> perChannel(kMaxChannels, 0);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        PacketHeader h{};
        if (receiveAll(s.fd(), h.data(), h.size(), stop, 60000, 60000) != IoResult::Ok)
            break;
        const std::uint32_t length = getU32(&h[12]);
        if (getU32(&h[8]) != kPacketVideo || length > kMaxMediaPayload) {
            if (getU32(&h[8]) == kPacketControl)
                continue;
            std::fputs("unexpected packet\n", stderr);
            return 1;
        }
        if (receiveAll(s.fd(), payload.data(), length, stop, 60000, 60000) != IoResult::Ok)
            break;
        ++frames;
        keys += getU32(&h[video::kFrameType]) == 0;
        bytes += length + kPacketHeaderSize;
        const std::uint32_t channel = getU32(&h[video::kChannel]);
        if (channel < kMaxChannels)
            ++perChannel[channel];
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int channels = 0;
    for (long n : perChannel)
        channels += n > 0;
    std::printf("frames %ld keyframes %ld fps %.2f channels %d MB/s %.2f\n", frames, keys,
                channels ? frames / elapsed / channels : 0.0, channels, bytes / elapsed / 1e6);
    return 0;
}
