#pragma once
// The event viewer in the test process: a temporary program directory, the
// control registered in a temporary registry, the document, frame and view.
#include "EventViewer/CEventViewerDoc.h"
#include "EventViewer/CMainFrame.h"
#include "EventViewer/monitor/CEventDlg.h"
#include "EventViewer/view/CVyrNVRView.h"
#include "MonitorFixture.h"
#include "platform/Component.h"

#include <QDir>

#include <dlfcn.h>
#include <unistd.h>

class ViewerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previousDirectory = QDir::currentPath();
        QDir::setCurrent(dir.path());
        setenv("VYR_REGISTRY", qPrintable(dir.filePath("registry.ini")), 1);
        setenv("VYR_HANDOVER_NAMESPACE", qPrintable(QStringLiteral("evtest%1").arg(getpid())), 1);
        library = dlopen(VYRDAX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr);
        ASSERT_EQ(reinterpret_cast<platform::DllRegisterServerFn>(dlsym(library, "DllRegisterServer"))(),
                  platform::S_OK);
        previousBoxes = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override
    {
        frame.reset();
        document.reset();
        platform::SetMessageBoxHandler(previousBoxes);
        QDir::setCurrent(previousDirectory);
        unsetenv("VYR_REGISTRY");
        if (library)
            dlclose(library);
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

    QTemporaryDir dir;
    QString previousDirectory;
    void* library = nullptr;
    platform::MessageBoxHandler previousBoxes;
    std::vector<std::string> boxes;
    std::unique_ptr<CVyrNVRDoc> document;
    std::unique_ptr<CMainFrame> frame;
};
