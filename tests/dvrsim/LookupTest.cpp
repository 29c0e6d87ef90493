// The lookup service of the real dvrsim program, byte by byte.
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

void scramble(std::vector<std::uint8_t>& payload)
{
    for (std::size_t k = 0; k < payload.size(); ++k)
        payload[k] ^= static_cast<std::uint8_t>(0xFF - ((k + 1) & 0xFF));
}

// Sends one "request DVR IP" and returns the reply, payload unscrambled.
bool requestAddress(int port, const std::string& id, const std::string& password, std::vector<std::uint8_t>& reply)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return false;
    }
    std::vector<std::uint8_t> payload(17, 0);
    std::memcpy(payload.data(), id.data(), std::min<std::size_t>(8, id.size()));
    std::memcpy(payload.data() + 8, password.data(), std::min<std::size_t>(8, password.size()));
    scramble(payload);
    std::vector<std::uint8_t> message = {0xF1, 0x6A, 4, 0, 17, 0};
    message.insert(message.end(), payload.begin(), payload.end());
    bool ok = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
    reply.clear();
    std::uint8_t buffer[512];
    while (ok) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        reply.insert(reply.end(), buffer, buffer + n);
        if (reply.size() >= 6 && reply.size() >= 6u + (reply[4] | reply[5] << 8))
            break;
    }
    ::close(fd);
    if (reply.size() < 6)
        return false;
    std::vector<std::uint8_t> body(reply.begin() + 6, reply.end());
    scramble(body);
    std::copy(body.begin(), body.end(), reply.begin() + 6);
    return true;
}

TEST(DvrSimLookup, AnswersWithTheDvrsAddressAndPort)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--lookup-port", "0", "--dvr-id", "DVR7", "--password", "pw"}));
    ASSERT_GT(sim.lookupPort(), 0);
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(requestAddress(sim.lookupPort(), "DVR7", "pw", reply));
    const std::vector<std::uint8_t> head(reply.begin(), reply.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0xF1, 0x6A, 4, 0, 12, 0}));
    ASSERT_EQ(reply.size(), 6u + 12u);
    EXPECT_EQ(reply[6], 127);
    EXPECT_EQ(reply[7], 0);
    EXPECT_EQ(reply[8], 0);
    EXPECT_EQ(reply[9], 1);
    EXPECT_EQ(reply[11] | reply[12] << 8, sim.port());
    EXPECT_EQ(reply[13], 4);
    EXPECT_EQ(std::string(reply.begin() + 14, reply.end()), "DVR7");
    EXPECT_NE(sim.waitForLog("LOOKUP 4 DVR7 pw 0"), "");

    ASSERT_TRUE(requestAddress(sim.lookupPort(), "OTHER", "pw", reply));
    EXPECT_EQ(reply[3], 8) << "unknown ID";
    EXPECT_EQ(reply.size(), 6u);
    ASSERT_TRUE(requestAddress(sim.lookupPort(), "DVR7", "nope", reply));
    EXPECT_EQ(reply[3], 1) << "wrong password";
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimLookup, AnswersTheConfiguredRefusal)
{
    for (const auto& [name, code] : {std::pair<const char*, int>{"busy", 2}, {"badpw", 1}, {"noid", 8}, {"error", 9}}) {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--lookup-port", "0", "--lookup-error", name}));
        std::vector<std::uint8_t> reply;
        ASSERT_TRUE(requestAddress(sim.lookupPort(), "dvrsim", "", reply));
        EXPECT_EQ(reply[0], 0xF1);
        EXPECT_EQ(reply[2], 4);
        EXPECT_EQ(reply[3], code) << name;
        EXPECT_TRUE(sim.stop());
    }
}

}  // namespace
