#pragma once
// The event viewer in the test process: a temporary program directory, the
// control registered in a temporary registry, the document, frame and view.
#include "EventViewer/CEventViewerDoc.h"
#include "EventViewer/CMainFrame.h"
#include "EventViewer/monitor/CEventDlg.h"
#include "EventViewer/view/CVyrNVRView.h"
#include "MonitorFixture.h"
#include "platform/Component.h"
#include "tests/support/ViewerTestBase.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>
#include <string>
#include <unistd.h>

// An event log file for dvrsim's --events-file (or a database file): the
// records, 24 bytes each, in order; `append` adds them to what is there.
inline void WriteEventsFile(const QString& path, const std::vector<EventRecord>& records, bool append = false)
{
    QFile file(path);
    ASSERT_TRUE(file.open(append ? QIODevice::Append : QIODevice::WriteOnly));
    for (const EventRecord& r : records) {
        uint8_t bytes[24];
        r.ToBytes(bytes);
        ASSERT_EQ(file.write(reinterpret_cast<const char*>(bytes), 24), 24);
    }
}

class ViewerFixture : public testsupport::ViewerTestBase {
protected:
    void SetUp() override { EnterProgramDirectory("evtest", VYRDAX_LIBRARY); }
    void TearDown() override
    {
        setenv("VYR_TEST_TIME_DIVISOR", "20", 1);
        frame.reset();
        document.reset();
        LeaveProgramDirectory();
    }
    // Writes the site list: one DVR per (name, port, password).
    void WriteSites(const std::vector<std::tuple<QString, int, QString>>& dvrs, int maxPolling = 5)
    {
        SettingsDocument doc(ViewerVariant::Event, dir.path());
        doc.OnNewDocument();
        doc.deviceList.clear(); // a list written before is replaced
        for (const auto& [name, port, password] : dvrs) {
            auto dvr = std::make_unique<CDVR>(name, 3, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                              std::array<uint8_t, 4>{127, 0, 0, 1}, port, 0, 0, "Guest", password,
                                              1);
            dvr->SetPollingFlag(1);
            doc.deviceList.push_back(std::move(dvr));
        }
        doc.databaseDirectory = dir.filePath("DB");
        doc.searchDatabaseDirectory = doc.databaseDirectory;
        doc.eventSettings.maximumPolling = static_cast<uint16_t>(maxPolling - 1);
        doc.eventSettings.eventWords = {1, 1, 1, 1, 1, 1, 1, 1};
        ASSERT_TRUE(doc.SaveSettingsFiles().ok());
    }
    // For tests in which every answering DVR must answer in time: the
    // product's own time-outs (180 s per DVR, 10 s for a login reply) or
    // those divided by `divisor`, so that a machine loaded by other builds
    // does not turn a slow answer into a failure. Set before the first
    // start: the control takes its time-outs once per run.
    static void RelaxTimeouts(int divisor = 1)
    {
        setenv("VYR_TEST_TIME_DIVISOR", std::to_string(divisor).c_str(), 1);
    }
    void Start(int startMode = 0)
    {
        document = std::make_unique<CVyrNVRDoc>();
        document->OnNewDocument();
        frame = std::make_unique<CMainFrame>(document.get(), startMode, dir.path());
        frame->show();
        frame->View()->OnInitialUpdate();
        // A loaded machine can run the start-up timers late; a pass started
        // before them would have its first poll cleared.
        PumpUntil([this] { return !frame->View()->StartUpPending(); }, 30000);
    }
    // One polling pass, from Tracking to its end (or `timeoutMs`).
    bool RunPass(int timeoutMs)
    {
        CEventDlg* monitor = Monitor();
        monitor->OnStop();
        monitor->OnTracking();
        return PumpUntil([&] { return !monitor->Idle(); }, 5000) &&
               PumpUntil([&] { return monitor->Idle(); }, timeoutMs);
    }
    bool CloseAndWait(int timeoutMs = 10000)
    {
        frame->close();
        return PumpUntil([this] { return !frame->isVisible(); }, timeoutMs);
    }
    CVyrNVRView* View() { return frame->View(); }
    CEventDlg* Monitor() { return frame->View()->Monitor(); }

    std::unique_ptr<CVyrNVRDoc> document;
    std::unique_ptr<CMainFrame> frame;
};
