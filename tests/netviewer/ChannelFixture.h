#pragma once
// A viewer with one four-channel DVR "Lot_A" from the simulator bound to
// cells 0..3 and connected; its clock and free space are the test's.
#include "NetviewerFixture.h"
#include "SimProcess.h"
#include "control/interface/VyrdaxInterface.h"

#include <QDirIterator>
#include <QProcess>

class ChannelFixture : public NetviewerFixture {
protected:
    // Starts the simulator with `simArgs`, the viewer on it, and waits until
    // the four cells show live video.
    void StartConnected(std::vector<std::string> simArgs = {})
    {
        simArgs.insert(simArgs.end(), {"--channels", "4", "--size", "352x240", "--fps", "15", "--gop", "5"});
        ASSERT_TRUE(sim.start(simArgs));
        recordingDirectory = dir.filePath("rec");
        captureDirectory = dir.filePath("cap");
        {
            SettingsDocument doc(ViewerVariant::Network, dir.path());
            doc.OnNewDocument();
            doc.recordingDirectory = recordingDirectory;
            doc.captureDirectory = captureDirectory;
            doc.deviceList.push_back(std::make_unique<CDVR>("Lot_A", 1, CDVR::DeviceDVR, QString(),
                                                            CDVR::AddressFixed, std::array<uint8_t, 4>{127, 0, 0, 1},
                                                            sim.port(), 0, 0, "Guest", "", 1));
            ASSERT_TRUE(doc.SaveSettingsFiles().ok());
        }
        beforeInitialUpdate = [this](CVyrNVRView* view) {
            view->SetClock([this] { return now; });
            view->DiskMonitor().SetFreeSpaceSource([this](const QString&) { return freeBytes.load(); });
        };
        Start();
        QTreeWidgetItem* dvr = FindTreeItem(View()->DeviceTree(), "Lot_A");
        ASSERT_NE(dvr, nullptr);
        View()->DropItem(dvr, View()->FieldCellRect(0).center());
        ASSERT_EQ(View()->CellAt(3).deviceName, "Lot_A");
        View()->OnCommand(IDC_CONNECT);
        // The first key frame of each channel starts its schedule test.
        ASSERT_TRUE(PumpUntil(
            [this] {
                for (int cell = 0; cell < 4; ++cell)
                    if (View()->TimerPeriod(kTimerSchedule + cell) != 3000)
                        return false;
                return true;
            },
            15000));
    }

    CDVyrdax* Control(int cell) { return View()->ControlAt(View()->CellAt(cell).slot); }
    long Status(int cell) { return Control(cell)->GetStatus(View()->CellAt(cell).channel); }
    bool Recording(int cell) { return (Status(cell) & kStatusRecording) != 0; }
    CGroup& Group() { return *document->CurrentGroup(); }
    void Alarm(uint32_t message, int cell) { View()->OnMessage(message, 0, cell); }

    // Movie files under `root` (not their indexes) whose names start with `start`.
    QStringList RecordingsStartingWith(const QString& root, const QString& start)
    {
        QStringList found;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (QFileInfo(path).fileName().startsWith(start) && path.endsWith(".mp4"))
                found << path;
        }
        return found;
    }
    // Waits until one movie file for each name start exists: a key frame
    // opened it. Bounded generously, as frames come late on a loaded machine.
    bool WaitForMovies(const QStringList& starts, int timeoutMs = 20000)
    {
        return PumpUntil(
            [&] {
                for (const QString& start : starts)
                    if (RecordingsStartingWith(recordingDirectory, start).size() != 1)
                        return false;
                return true;
            },
            timeoutMs);
    }
    // The movie checker's verdict on a recording and its index.
    int MovieCheck(const QString& path)
    {
        QProcess movdump;
        movdump.start(MOVDUMP_PROGRAM, QStringList{path, "--quiet"});
        if (!movdump.waitForFinished(20000))
            return -1;
        return movdump.exitCode();
    }
    int BoxesSaying(const std::string& text) { return static_cast<int>(std::count(boxes.begin(), boxes.end(), text)); }

    SimProcess sim;
    QString recordingDirectory;
    QString captureDirectory;
    QDateTime now{QDate(2026, 12, 6), QTime(12, 59, 58)}; // a Sunday
    std::atomic<int64_t> freeBytes{int64_t{500000} * 1000000};
};
