// A DVR known only by its ID: the address comes from the lookup service.
#include "LinkHarness.h"

#include "control/StatusTexts.h"
#include "control/link/LinkSettings.h"
#include "platform/Registry.h"

namespace {

using namespace linktest;
using namespace vyrdax;

class LookupTest : public LinkTest {
protected:
    bool StartSim(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args{"--channels", "1", "--lookup-port", "0", "--dvr-id", "DVR7", "--user", "DVR7",
                                      "--password", "pw"};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!sim.Start(args))
            return false;
        platform::RegistryWriteString(kControlRegistryKey, "LookupHost", "127.0.0.1");
        platform::RegistryWriteInt(kControlRegistryKey, "LookupPort", sim.LookupPort());
        return true;
    }
    void BindById(const std::string& id, const std::string& password)
    {
        Bind(0, "Front", 0, 9201, "", id, password);
        ASSERT_TRUE(ctrl->UsesLookup());
    }
    SimDvr sim;
};

TEST_F(LookupTest, AddressFromTheServiceIsConnectedTo)
{
    ASSERT_TRUE(StartSim());
    BindById("DVR7", "pw");
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
    EXPECT_EQ(Bare(sim.LogLines("LOOKUP")), std::vector<std::string>{"LOOKUP 4 DVR7 pw 0"});
    EXPECT_EQ(ctrl->Address(), "127.0.0.1");
    EXPECT_EQ(ctrl->Port(), sim.Port());
    EXPECT_EQ(sim.Count("LOGIN DVR7 pw 0 0 ACCEPT"), 1);
}

TEST_F(LookupTest, BusyServiceIsAskedAgainAboutASecondLater)
{
    ASSERT_TRUE(StartSim({"--lookup-error", "busy"}));
    BindById("DVR7", "pw");
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(sim.WaitLog("LOOKUP", 1));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitTitle(0, text::kBusy));
    ASSERT_TRUE(sim.WaitLog("LOOKUP", 2, 3000));
    const auto gap = std::chrono::steady_clock::now() - first;
    // One second, well before the (shortened) 2 s retry timer.
    EXPECT_GE(gap, std::chrono::milliseconds(900));
    EXPECT_LT(gap, std::chrono::milliseconds(1800));
    EXPECT_EQ(sim.Count("CONNECT"), 0);
}

struct Refusal {
    const char* option;
    const char* text;
};

class LookupRefusalTest : public LookupTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(LookupRefusalTest, RefusalIsShownAndEndsTheTries)
{
    ASSERT_TRUE(StartSim({"--lookup-error", GetParam().option}));
    BindById("DVR7", "pw");
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitTitle(0, GetParam().text));
    PumpFor(3000); // beyond the 2 s retry timer
    EXPECT_EQ(sim.Count("LOOKUP"), 1);
    EXPECT_EQ(sim.Count("CONNECT"), 0);
    EXPECT_EQ(Title(0), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Errors, LookupRefusalTest,
                         ::testing::Values(Refusal{"badpw", text::kBadPw}, Refusal{"noid", text::kNoId},
                                           Refusal{"error", text::kError}),
                         [](const auto& info) { return std::string(info.param.option); });

TEST_F(LookupTest, UnknownIdAndWrongPasswordAreTheServicesOwnAnswers)
{
    ASSERT_TRUE(StartSim());
    BindById("Other", "pw");
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitTitle(0, text::kNoId));
    ctrl->DisConnectSvr(0);
    BindById("DVR7", "wrong");
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitTitle(0, text::kBadPw));
    EXPECT_EQ(sim.Count("CONNECT"), 0);
}

TEST_F(LookupTest, ServiceThatIsNotThereIsAskedAgainByTheTimer)
{
    ASSERT_TRUE(StartSim());
    platform::RegistryWriteInt(kControlRegistryKey, "LookupPort", ClosedPort());
    BindById("DVR7", "pw");
    ASSERT_TRUE(ctrl->Connect(0));
    PumpFor(1000);
    EXPECT_FALSE(ctrl->LoggedIn());
    // The service comes back; the 2 s timer finds it.
    platform::RegistryWriteInt(kControlRegistryKey, "LookupPort", sim.LookupPort());
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 1, 5000));
    EXPECT_EQ(sim.Count("LOOKUP"), 1);
}

} // namespace
