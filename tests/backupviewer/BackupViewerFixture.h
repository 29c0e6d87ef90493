#pragma once
// A backup viewer in the test process: a temporary program directory, the
// control registered in a temporary registry, the document, frame and view.
#include "backupviewer/CMainFrame.h"
#include "backupviewer/CVyrNVRDoc.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "backupviewer/view/CVyrNVRView.h"
#include "platform/Component.h"
#include "tests/support/ViewerTestBase.h"
#include "platform/MessageBox.h"
#include "viewercore/model/CDVR.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

inline void Pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        Pump(20);
    }
    return true;
}

// A left click on the middle of `widget` as the platform delivers it to the
// widget's window, stamped `atMs` (press) and `atMs` + 20 (release): the
// application makes a double click of two clicks whose presses lie within
// its double-click interval, whatever the time the test takes between them.
inline void PlatformClick(QWidget* widget, unsigned long atMs)
{
    QWindow* window = widget->window()->windowHandle();
    const QPoint global = widget->mapToGlobal(widget->rect().center());
    const QPointF local = window->mapFromGlobal(global);
    qt_handleMouseEvent(window, local, global, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress,
                        Qt::NoModifier, int(atMs));
    qt_handleMouseEvent(window, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease,
                        Qt::NoModifier, int(atMs + 20));
    QCoreApplication::processEvents();
}

// Picks `day` of the shown month and confirms, as the operator would.
inline int PickDay(backupviewer::CCalendarDlg& calendar, int day)
{
    for (int i = 0; i < 42; ++i)
        if (calendar.Grid()[i] == day) {
            calendar.PickAt(backupviewer::CCalendarDlg::CellRect(i).center());
            break;
        }
    calendar.OnOK();
    return calendar.result();
}

class BackupViewerFixture : public testsupport::ViewerTestBase {
protected:
    void SetUp() override { EnterProgramDirectory("bvtest", VYRDAX_LIBRARY); }
    void TearDown() override
    {
        frame.reset();
        document.reset();
        LeaveProgramDirectory();
    }

    // A DVR in the document's list with `channelType` (1: 4 entries, 3: 17, 6: 65).
    void AddDvr(const QString& name, int channelType, int port = 9201)
    {
        if (!document) {
            document = std::make_unique<CVyrNVRDoc>();
            document->OnNewDocument();
        }
        auto dvr = std::make_unique<CDVR>(name, channelType, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                          std::array<uint8_t, 4>{127, 0, 0, 1}, port, 0, 0, "admin", "1111", 1);
        dvr->addressText = "127.0.0.1";
        document->Data().deviceList.push_back(std::move(dvr));
    }

    void Start(int startMode = 0)
    {
        if (!document) {
            document = std::make_unique<CVyrNVRDoc>();
            document->OnNewDocument();
        }
        document->Data().recordingDirectory = dir.filePath("rec");
        document->Data().captureDirectory = dir.filePath("cap");
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
    QTreeWidgetItem* DvrItem(const QString& name)
    {
        QTreeWidget* tree = View()->DeviceTree();
        for (int k = 0; k < tree->topLevelItemCount(); ++k)
            if (tree->topLevelItem(k)->text(0) == name)
                return tree->topLevelItem(k);
        return nullptr;
    }
    QPoint FirstCellPoint() { return QPoint(185 + 20, 50 + 20); }

    std::unique_ptr<CVyrNVRDoc> document;
    std::unique_ptr<CMainFrame> frame;
};
