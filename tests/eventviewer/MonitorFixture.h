#pragma once
// The event monitor on fake control instances: a temporary directory with a
// site list and a database directory, and helpers that answer for a slot the
// way a control instance does (its session ends before it tells the host).
#include "EventViewer/event/EventDatabase.h"
#include "MessageHost.h"
#include "EventViewer/monitor/CEventDlg.h"
#include "EventViewer/monitor/MonitorTexts.h"
#include "platform/MessageBox.h"
#include "viewercore/model/SettingsDocument.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include "tests/audio/FakeAudioDevice.h"
#include <QTimer>

#include <gtest/gtest.h>

#include <array>

using testsupport::PumpUntil;
inline void Pump(int ms)
{
    testsupport::PumpFor(ms);
}

class FakeInstances : public PollingInstances {
public:
    struct Poll {
        int slot;
        QString dvrName;
        QString address;
        short port;
        short row;
        long time;
    };
    void SetEventInfo(int slot, const QString& dvrName, const QString&, const QString&, const QString& addr,
                      short port, short idxDisp, short idxPolling, long time) override
    {
        EXPECT_EQ(idxDisp, slot);
        polls.push_back({slot, dvrName, addr, port, idxPolling, time});
        connected[static_cast<std::size_t>(slot)] = true;
    }
    void Connect(int slot) override { ++connects[static_cast<std::size_t>(slot)]; }
    DVyrdaxTable GetEventData(int slot) override
    {
        ++getEventDataCalls;
        const std::vector<uint8_t>& t = tables[static_cast<std::size_t>(slot)];
        if (t.empty())
            return {};
        return {t.data(), t.size()};
    }
    bool isConnect(int slot) override { return connected[static_cast<std::size_t>(slot)]; }
    void DisConnectSvr(int slot) override
    {
        ++disconnects;
        connected[static_cast<std::size_t>(slot)] = false;
    }
    void ClearInfo(int) override {}
    void CmdToDVR(int slot, long command, long index) override { commands.push_back({slot, command, index}); }

    struct Command {
        int slot;
        long command;
        long index;
    };
    std::vector<Poll> polls;
    std::array<int, kSlots> connects{};
    std::array<bool, kSlots> connected{};
    std::array<std::vector<uint8_t>, kSlots> tables;
    std::vector<Command> commands;
    int getEventDataCalls = 0;
    int disconnects = 0;
};

inline std::vector<uint8_t> BatchTable(const std::vector<EventRecord>& records)
{
    std::vector<uint8_t> table(4 + records.size() * 24);
    const uint32_t n = static_cast<uint32_t>(records.size());
    for (int i = 0; i < 4; ++i)
        table[static_cast<std::size_t>(i)] = static_cast<uint8_t>(n >> (8 * i));
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i].ToBytes(table.data() + 4 + i * 24);
    return table;
}

class MonitorFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        document = std::make_unique<SettingsDocument>(ViewerVariant::Event, dir.path());
        document->OnNewDocument();
        document->databaseDirectory = dir.filePath("DB");
        previousBoxes = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return boxAnswer;
        });
    }
    void TearDown() override
    {
        monitor.reset();
        platform::SetMessageBoxHandler(previousBoxes);
        unsetenv("VYR_TEST_TIME_DIVISOR");
    }
    void AddDvrs(int count, bool checked = true)
    {
        for (int i = 0; i < count; ++i) {
            auto dvr = std::make_unique<CDVR>(QStringLiteral("DVR%1").arg(document->deviceList.size() + 1), 3,
                                              CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                              std::array<uint8_t, 4>{127, 0, 0, 1}, 9000 + i, 0, 0, "admin", "",
                                              1);
            dvr->SetPollingFlag(checked ? 1 : 0);
            document->deviceList.push_back(std::move(dvr));
        }
    }
    // The monitor, with "Maximum Polling No." `maxPolling` and the event words.
    void Open(int maxPolling = 5, std::array<uint16_t, 8> words = {1, 1, 1, 1, 1, 1, 1, 1})
    {
        document->eventSettings.maximumPolling = static_cast<uint16_t>(maxPolling - 1);
        document->eventSettings.eventWords = words;
        monitor = std::make_unique<CEventDlg>(document.get(), &fake, [this] { ++saves; });
        monitor->resize(1000, 600);
        monitor->OnInitDialog();
    }
    // The slot the monitor gave a row in its latest hand-out.
    int SlotOf(int row) const
    {
        for (auto it = fake.polls.rbegin(); it != fake.polls.rend(); ++it)
            if (it->row == row)
                return it->slot;
        return -1;
    }
    void Progress(int slot, int kind)
    {
        if (kind != 0)
            fake.connected[static_cast<std::size_t>(slot)] = false;
        monitor->OnInstanceNotice(vyrdax::WM_VIDEO_PROGRESS, static_cast<platform::WPARAM>(kind), slot);
    }
    void LinkError(int slot, int code)
    {
        fake.connected[static_cast<std::size_t>(slot)] = false;
        monitor->OnInstanceNotice(vyrdax::WM_VIDEO_LINK_ERROR, static_cast<platform::WPARAM>(code), slot);
    }
    void Deliver(int row, const std::vector<EventRecord>& records)
    {
        const int slot = SlotOf(row);
        ASSERT_GE(slot, 0);
        fake.tables[static_cast<std::size_t>(slot)] = BatchTable(records);
        Progress(slot, 1);
    }
    QString Status(int row) const { return monitor->RowText(row, 2); }
    bool PassOver(int timeoutMs = 5000)
    {
        return PumpUntil([this] { return monitor->Idle(); }, timeoutMs);
    }

    QTemporaryDir dir;
    // Alarm sounds go to a device of the test's, never to the machine's.
    vyrtest::FakeAudio sound;
    std::unique_ptr<SettingsDocument> document;
    FakeInstances fake;
    std::unique_ptr<CEventDlg> monitor;
    int saves = 0;
    platform::MessageBoxHandler previousBoxes;
    std::vector<std::string> boxes;
    int boxAnswer = platform::IDCANCEL;
};

inline EventRecord MakeEvent(uint32_t key, uint16_t eventClass, uint8_t subKind, int second, uint8_t action = 0)
{
    EventRecord r;
    r.key = key;
    r.packedTime = PackEventTime({2024, 5, 6, 7, 8, second});
    r.eventClass = eventClass;
    r.subKind = subKind;
    r.action = action;
    r.channelMask = 1;
    return r;
}
