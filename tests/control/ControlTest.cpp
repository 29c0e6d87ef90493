#include "MessageHost.h"
#include "control/CVyrdaxCtrl.h"
#include "control/StatusTexts.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace vyrdax;
using platform::Variant;

using Host = testsupport::MessageHost;

Variant Default(platform::VarType t)
{
    switch (t) {
    case platform::VT_I2: return Variant::Short(0);
    case platform::VT_I4: return Variant::Long(0);
    case platform::VT_BSTR: return Variant::String(u"x");
    case platform::VT_BOOL: return Variant::Bool(false);
    default: return Variant();
    }
}

Variant WrongFor(platform::VarType t)
{
    return t == platform::VT_BSTR ? Variant::Long(1) : Variant::String(u"1");
}

void Pump()
{
    for (int k = 0; k < 5; ++k)
        QCoreApplication::processEvents();
}

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousBoxes_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previousBoxes_); }

    platform::MessageBoxHandler previousBoxes_;
    std::vector<std::string> boxes;
    Host host;
    CVyrdaxCtrl* ctrl = new CVyrdaxCtrl(&host);

    void Bind(int channelFrom1, const std::string& name, int displayIndex)
    {
        ctrl->SetConnectInfo(name, "Guest", "", "", "127.0.0.1", 9201, 0, static_cast<int16_t>(channelFrom1), 0,
                             static_cast<int16_t>(displayIndex));
    }
    QString LeftTitle(int ch) { return ctrl->Pane(ch)->LeftTitle()->Title(); }
};

TEST_F(ControlTest, EveryMethodTakesItsPublishedArgumentsAndRefusesOthers)
{
    ASSERT_EQ(Methods().size(), 58u);
    for (const platform::MethodInfo& m : Methods()) {
        SCOPED_TRACE(m.name);
        int id = 0;
        ASSERT_EQ(ctrl->GetIDsOfNames(QString(m.name).toUpper().toStdString(), &id), platform::S_OK);
        EXPECT_EQ(id, m.dispid);

        std::vector<Variant> args;
        for (const auto& a : m.arguments)
            args.push_back(Default(a.type));
        Variant r;
        ASSERT_EQ(ctrl->Invoke(m.dispid, args, &r), platform::S_OK);
        EXPECT_EQ(r.vt, m.result);

        std::vector<Variant> more = args;
        more.push_back(Variant::Short(0));
        EXPECT_EQ(ctrl->Invoke(m.dispid, more, &r), platform::DISP_E_BADPARAMCOUNT);
        if (!args.empty()) {
            std::vector<Variant> fewer(args.begin(), args.end() - 1);
            EXPECT_EQ(ctrl->Invoke(m.dispid, fewer, &r), platform::DISP_E_BADPARAMCOUNT);
        }
        for (std::size_t k = 0; k < args.size(); ++k) {
            std::vector<Variant> wrong = args;
            wrong[k] = WrongFor(m.arguments[k].type);
            EXPECT_EQ(ctrl->Invoke(m.dispid, wrong, &r), platform::DISP_E_TYPEMISMATCH) << k;
        }
    }
    Variant r;
    for (int unknown : {0, 59, 100, -1, DISPID_ABOUTBOX})
        EXPECT_EQ(ctrl->Invoke(unknown, {}, &r), platform::DISP_E_MEMBERNOTFOUND) << unknown;
    int id = 0;
    EXPECT_EQ(ctrl->GetIDsOfNames("AboutBox", &id), platform::DISP_E_UNKNOWNNAME);
}

TEST_F(ControlTest, ChannelIndexesOutsideTheTablesTouchNothing)
{
    Bind(1, "Lobby-01", 0);
    for (const platform::MethodInfo& m : Methods()) {
        // Their index arguments are no channels: one opens a remote
        // session, the other binds channel 0 to an event-log session.
        if (m.dispid == DISPID_StartDVRPlaybackTime || m.dispid == DISPID_SetEventInfo)
            continue;
        for (int16_t bad : {int16_t(-1), int16_t(0), int16_t(64), int16_t(65), int16_t(32767), int16_t(-32768)}) {
            // SetConnectInfo alone counts its channel from 1.
            const bool countsFromOne = m.dispid == DISPID_SetConnectInfo;
            if ((bad == 0 && !countsFromOne) || (bad == 64 && countsFromOne))
                continue;
            std::vector<Variant> args;
            bool hasChannel = false;
            for (const auto& a : m.arguments) {
                const std::string name = a.name;
                if (name.rfind("idx", 0) == 0 || name == "select_dsip_ch" || name == "select_disp_ch") {
                    args.push_back(Variant::Short(bad));
                    hasChannel = true;
                } else {
                    args.push_back(Default(a.type));
                }
            }
            if (!hasChannel)
                continue;
            Variant r;
            EXPECT_EQ(ctrl->Invoke(m.dispid, args, &r), platform::S_OK) << m.name << " " << bad;
        }
    }
    for (int ch = 1; ch < kChannelCount; ++ch)
        EXPECT_FALSE(ctrl->isReady(static_cast<int16_t>(ch))) << ch;
    EXPECT_TRUE(ctrl->isReady(0));
    EXPECT_EQ(ctrl->GetChannelName(0), "Lobby-01");
    EXPECT_EQ(ctrl->GetStatus(0), 0);
}

TEST_F(ControlTest, SetConnectInfoCountsFromOneAndStoresTheConnection)
{
    ctrl->SetConnectInfo("Zero", "Guest", "", "", "10.0.0.1", 9201, 0, 0, 0, 0);
    EXPECT_EQ(ctrl->Pane(0), nullptr);
    EXPECT_FALSE(ctrl->isReady(0));

    ctrl->SetConnectInfo("Gate-03", "admin", "pw", "Front", "", static_cast<int16_t>(40000), 1, 3, 2, 7);
    ASSERT_NE(ctrl->Pane(2), nullptr);
    EXPECT_TRUE(ctrl->isReady(2));
    EXPECT_EQ(ctrl->GetChannelName(2), "Gate-03");
    EXPECT_EQ(ctrl->GetGroupName(2), "Front");
    EXPECT_EQ(ctrl->Port(), 40000);
    EXPECT_TRUE(ctrl->UsesLookup());
    EXPECT_EQ(ctrl->RecordMode(), 1);
    EXPECT_EQ(ctrl->AudioOption(), 2);
    EXPECT_EQ(ctrl->Pane(2)->PaneIndex(), 7);
    EXPECT_EQ(ctrl->Pane(2)->parentWidget(), &host);
    EXPECT_EQ(ctrl->Pane(2)->objectName(), "5002");
    EXPECT_EQ(LeftTitle(2), "Gate-03 is Ready");
}

TEST_F(ControlTest, DisconnectedShowsReadyDragAndDropOrNothing)
{
    Bind(1, "Lobby-01", 0);
    Bind(2, "", 1);
    EXPECT_EQ(LeftTitle(0), "Lobby-01 is Ready");
    EXPECT_EQ(LeftTitle(1), "Drag & Drop here");
    ctrl->SetStatus(1, STATUS_RECORD_MANUAL);
    ctrl->SetBackupMode(1);
    ctrl->SetChannelStatus(text::kDisconnected, 1);
    EXPECT_EQ(LeftTitle(1), "");
    EXPECT_EQ(ctrl->GetStatus(1), 0);
    EXPECT_EQ(ctrl->Pane(1)->RightTitle()->State(), 0);

    ctrl->SetChannelStatus(text::kConnectionTimeout, 0);
    EXPECT_EQ(LeftTitle(0), "Connection Timeout!");
    // All channels: only those asked to connect show it.
    ctrl->SetChannelStatus(text::kTryingConnect, -1);
    EXPECT_EQ(LeftTitle(0), "Connection Timeout!");
    ctrl->Channel(0).stopped = 0;
    ctrl->SetChannelStatus(text::kTryingConnect, -1);
    EXPECT_EQ(LeftTitle(0), "Trying connect to DVR...");
    EXPECT_EQ(LeftTitle(1), "");
    ctrl->SetChannelStatus(text::kDisconnected, -1); // does nothing for all channels
    EXPECT_EQ(LeftTitle(0), "Trying connect to DVR...");
}

TEST_F(ControlTest, SetStatusFollowsItsBitRules)
{
    Bind(1, "A", 0);
    ctrl->SetStatus(0, STATUS_LIVE);
    ctrl->SetStatus(0, STATUS_RECORD_MANUAL);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_LIVE | STATUS_RECORD_MANUAL);
    ctrl->SetStatus(0, STATUS_RECORD_SCHEDULE); // 8 after 4 leaves 8
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_LIVE | STATUS_RECORD_SCHEDULE);
    ctrl->SetStatus(0, STATUS_RECORD_ALARM);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_LIVE | STATUS_RECORD_ALARM);
    ctrl->SetStatus(0, STATUS_RECORD_MANUAL);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_LIVE | STATUS_RECORD_MANUAL);
    ctrl->SetStatus(0, 0x40);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_LIVE | STATUS_RECORD_MANUAL | 0x40);
    // A set bit other than 1 changes nothing, not even the drawing.
    ctrl->Pane(0)->RightTitle()->DrawStateTitle("", 0);
    ctrl->SetStatus(0, STATUS_RECORD_MANUAL);
    EXPECT_EQ(ctrl->Pane(0)->RightTitle()->State(), 0);
    // 1 clears 1, 4, 8 and 16, then sets 1, and draws the state.
    ctrl->SetStatus(0, STATUS_LIVE);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_LIVE | 0x40);
    EXPECT_EQ(ctrl->Pane(0)->RightTitle()->State(), STATUS_LIVE | 0x40);
    // 0x1000 replaces everything and draws nothing.
    ctrl->SetStatus(0, STATUS_PLAY);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_PLAY);
    EXPECT_EQ(ctrl->Pane(0)->RightTitle()->State(), STATUS_LIVE | 0x40);
    ctrl->SetStatus(0, STATUS_PAUSE);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_PLAY | STATUS_PAUSE);
}

TEST_F(ControlTest, ChannelStateKindsDriveTheDvrBits)
{
    Bind(1, "A", 0);
    ctrl->UpdateChannelState(0, 2);
    EXPECT_EQ(ctrl->GetStatus(0), 0x40);
    ctrl->UpdateChannelState(0, 5);
    EXPECT_EQ(ctrl->GetStatus(0), 0x200);
    ctrl->UpdateChannelState(0, 6);
    EXPECT_EQ(ctrl->GetStatus(0), 0x240);
    ctrl->UpdateChannelState(0, 3);
    ctrl->UpdateChannelState(0, 4);
    EXPECT_EQ(ctrl->GetStatus(0), 0x240);
    ctrl->UpdateChannelState(0, 1);
    EXPECT_EQ(ctrl->GetStatus(0), 0);
    ctrl->SetBackupMode(1);
    ctrl->UpdateChannelState(0, 6);
    ctrl->UpdateChannelState(0, 5); // remote mode: acts as kind 1, leaves the bits
    EXPECT_EQ(ctrl->GetStatus(0), 0x240);
    ctrl->UpdateChannelState(99, 2);
    ctrl->UpdateChannelState(-1, 2);
}

TEST_F(ControlTest, NoHostMessageBeforeSetDispChannel)
{
    EXPECT_EQ(ctrl->SendHostMessage(WM_VIDEO_STARTED, 0, 3), 0);
    EXPECT_TRUE(host.messages.empty());
    ctrl->setDispChannel(16);
    ctrl->SendHostMessage(WM_VIDEO_STARTED, 0, 3);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], (Host::Entry{0x605, 0, 3}));
    EXPECT_EQ(ctrl->Layout().displayMode, 16);
}

TEST_F(ControlTest, PaneClicksReachTheHostWithTheDisplayIndex)
{
    ctrl->setDispChannel(16);
    Bind(3, "C", 9);
    ctrl->ReplaceWnd(16, 0, 0, 0, 0, 0, 0);
    host.show();
    CVideoPane* pane = ctrl->Pane(2);
    ASSERT_TRUE(pane && pane->isVisible());
    QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(20, 30));
    QTest::mouseDClick(pane, Qt::LeftButton, {}, QPoint(21, 40));
    std::vector<Host::Entry> expected = {{WM_VIDEO_SELECT, 9, 0}, {WM_VIDEO_TOGGLE, 9, 21 + (40 << 16)}};
    std::vector<Host::Entry> got;
    for (const auto& e : host.messages)
        if (e.message == WM_VIDEO_TOGGLE || (e.message == WM_VIDEO_SELECT && got.empty()))
            got.push_back(e);
    EXPECT_EQ(got, expected);
    // A press released outside the pane sends nothing.
    host.messages.clear();
    QTest::mousePress(pane, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(pane, Qt::LeftButton, {}, QPoint(pane->width() + 30, 5));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(ControlTest, ReplaceWndPlacesShowsAndHidesPanes)
{
    host.show();
    for (int ch = 1; ch <= 8; ++ch)
        Bind(ch, "C", ch - 1);
    ctrl->ReplaceWnd(4, 4, 0, 0, 0, 0, 0);
    for (int ch = 0; ch < 8; ++ch)
        EXPECT_EQ(ctrl->Pane(ch)->isVisible(), ch >= 4) << ch;
    EXPECT_EQ(ctrl->Pane(4)->geometry(), QRect(0, 0, 400, 300));
    EXPECT_EQ(ctrl->Pane(7)->geometry(), QRect(400, 300, 400, 300));

    ctrl->ReplaceWnd(1, 0, 6, 10, 20, 30, 40);
    for (int ch = 0; ch < 8; ++ch)
        EXPECT_EQ(ctrl->Pane(ch)->isVisible(), ch == 6) << ch;
    EXPECT_EQ(ctrl->Pane(6)->geometry(), QRect(10, 20, 760, 540));

    const QPoint inside = ctrl->Pane(6)->mapToGlobal(QPoint(5, 5));
    EXPECT_TRUE(ctrl->PointInRect(6, inside.x(), inside.y()));
    EXPECT_FALSE(ctrl->PointInRect(6, inside.x() - 10, inside.y()));
    EXPECT_FALSE(ctrl->PointInRect(20, inside.x(), inside.y()));
}

TEST_F(ControlTest, SelectionOutlineDependsOnTheVersion)
{
    Bind(1, "A", 0);
    ctrl->SetSelection(0, 1);
    EXPECT_EQ(ctrl->Pane(0)->BorderColor(), kSelectedOutline);
    ctrl->SetSelection(0, 0);
    EXPECT_EQ(ctrl->Pane(0)->BorderColor(), kUnselectedOutline);

    ctrl->setVersion(2);
    Bind(2, "B", 1);
    ctrl->SetSelection(1, 1);
    EXPECT_TRUE(ctrl->Pane(1)->Selected());
    EXPECT_EQ(ctrl->Pane(1)->BorderColor(), kUnselectedOutline);
}

TEST_F(ControlTest, ClearInfoByMode)
{
    Bind(1, "A", 0);
    Bind(2, "B", 1);
    ctrl->ClearInfo(-1); // live view: -1 is no channel
    EXPECT_TRUE(ctrl->isReady(0));
    ctrl->ClearInfo(0);
    EXPECT_FALSE(ctrl->isReady(0));
    EXPECT_EQ(ctrl->Pane(0), nullptr);
    EXPECT_EQ(ctrl->GetChannelName(0), "");
    EXPECT_TRUE(ctrl->isReady(1));

    ctrl->SetBackupMode(1);
    ctrl->ClearInfo(-1); // remote mode: every channel unbound, panes kept
    EXPECT_FALSE(ctrl->isReady(1));
    EXPECT_NE(ctrl->Pane(1), nullptr);
    EXPECT_EQ(ctrl->Channel(1).displayIndex.load(), -1);

    ctrl->SetBackupMode(3);
    EXPECT_TRUE(ctrl->EventLogMode());
    EXPECT_EQ(ctrl->RemoteMode(), 0);
    Bind(3, "E", 2);
    ctrl->ClearInfo(2);
    EXPECT_FALSE(ctrl->isReady(2));
    EXPECT_NE(ctrl->Pane(2), nullptr);
    EXPECT_EQ(ctrl->CellRectOf(5), (CellRect{11, 65, 24, 80}));
}

TEST_F(ControlTest, PlaceholdersFillEmptyCellsOnlyInRemoteMode)
{
    host.show();
    ctrl->ReplaceWnd(4, 0, 0, 0, 0, 0, 0);
    auto blackAt = [&](QPoint p) {
        Pump();
        return host.grab().toImage().pixelColor(p) == QColor(Qt::black);
    };
    EXPECT_FALSE(blackAt({200, 150}));
    ctrl->SetBackupMode(1);
    ctrl->ReplaceWnd(4, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(blackAt({200, 150}));
    EXPECT_TRUE(blackAt({600, 450}));
}

TEST_F(ControlTest, OutlineColourFillsTheControl)
{
    host.show();
    ctrl->setGeometry(0, 0, 800, 600);
    ctrl->show();
    ctrl->SetOutlineColor(0x0000FF);
    Pump();
    EXPECT_EQ(host.grab().toImage().pixelColor(400, 300), QColor(255, 0, 0));
}

TEST_F(ControlTest, DestroyingTheControlRemovesItsPanesFromTheHost)
{
    Bind(1, "A", 0);
    Bind(64, "Z", 63);
    QPointer<CVideoPane> p0 = ctrl->Pane(0), p63 = ctrl->Pane(63);
    ASSERT_TRUE(p0 && p63);
    ctrl->Release();
    ctrl = nullptr;
    EXPECT_TRUE(p0.isNull());
    EXPECT_TRUE(p63.isNull());
}

// A port on 127.0.0.1 with nothing listening on it.
int ClosedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    close(fd);
    return ntohs(a.sin_port);
}

std::atomic<int> threadsStarted{0};

// Threads start 0.5 to 3 ms late, as on a busy machine.
void StartLate()
{
    thread_local std::mt19937 random(std::random_device{}());
    std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 2500));
    ++threadsStarted;
}

// The hand-over between the receive thread and a display thread that
// starts late: a frame the receive thread queued before the thread ran (the
// first, with the stream headers) is still there once it runs. Hundreds of
// starts.
TEST_F(ControlTest, ADisplayThreadThatStartsLateKeepsTheFramesQueuedBeforeIt)
{
    platform::WorkerThread::SetStartHookForTests(&StartLate);
    const int port = ClosedPort();
    std::vector<uint8_t> frame(1000, 0x5A);
    FrameInfo record{};
    record.SetWord(FrameInfo::kLength, static_cast<uint32_t>(frame.size()));
    int kept = 0;
    constexpr int kRuns = 300;
    for (int run = 0; run < kRuns; ++run) {
        auto* c = new CVyrdaxCtrl(&host);
        c->setDispChannel(4);
        c->SetConnectInfo("A", "Guest", "", "", "127.0.0.1", static_cast<int16_t>(port), 0, 1, 0, 0);
        threadsStarted = 0;
        ASSERT_TRUE(c->Connect(0)); // the display and receive threads, late
        ASSERT_EQ(c->Channel(0).queue.Push(frame.data(), record), 1);
        // Both threads are in their bodies; a display thread idles while
        // not logged in and takes nothing.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (threadsStarted.load() < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kept += c->Channel(0).queue.Backlog() == 0;
        c->Release();
    }
    platform::WorkerThread::SetStartHookForTests(nullptr);
    EXPECT_EQ(kept, kRuns);
}

} // namespace
