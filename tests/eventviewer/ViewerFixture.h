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

#include <dlfcn.h>
#include <unistd.h>

class ViewerFixture : public testsupport::ViewerTestBase {
protected:
    void SetUp() override { EnterProgramDirectory("evtest", VYRDAX_LIBRARY); }
    void TearDown() override
    {
        frame.reset();
        document.reset();
        LeaveProgramDirectory();
    }
    // Writes the site list: one DVR per (name, port, password).
    void WriteSites(const std::vector<std::tuple<QString, int, QString>>& dvrs, int maxPolling = 5)
    {
        SettingsDocument doc(ViewerVariant::Event, dir.path());
        doc.OnNewDocument();
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
    void Start(int startMode = 0)
    {
        document = std::make_unique<CVyrNVRDoc>();
        document->OnNewDocument();
        frame = std::make_unique<CMainFrame>(document.get(), startMode, dir.path());
        frame->show();
        frame->View()->OnInitialUpdate();
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
