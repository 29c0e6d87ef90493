#pragma once
// A network viewer in the test process: a temporary program directory, the
// control registered in a temporary registry, the document, frame and view.
#include "netviewer/CMainFrame.h"
#include "netviewer/CVyrNVRDoc.h"
#include "netviewer/view/CVyrNVRView.h"
#include "platform/Component.h"
#include "tests/support/ViewerTestBase.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
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

// A device-tree item by name, or a channel item below it.
inline QTreeWidgetItem* FindTreeItem(QTreeWidget* tree, const QString& parent, const QString& child = QString())
{
    for (int k = 0; k < tree->topLevelItemCount(); ++k) {
        QTreeWidgetItem* top = tree->topLevelItem(k);
        if (top->text(0) != parent)
            continue;
        if (child.isEmpty())
            return top;
        for (int c = 0; c < top->childCount(); ++c)
            if (top->child(c)->text(0) == child)
                return top->child(c);
    }
    return nullptr;
}

class NetviewerFixture : public testsupport::ViewerTestBase {
protected:
    void SetUp() override { EnterProgramDirectory("test", VYRDAX_LIBRARY); }
    void TearDown() override
    {
        frame.reset();
        document.reset();
        LeaveProgramDirectory();
    }

    // Starts the viewer on the settings files in the directory.
    void Start()
    {
        document = std::make_unique<CVyrNVRDoc>();
        document->OnNewDocument();
        frame = std::make_unique<CMainFrame>(document.get(), 0, dir.path());
        frame->show();
        if (beforeInitialUpdate)
            beforeInitialUpdate(frame->View());
        frame->View()->OnInitialUpdate();
    }
    // Closes as the operator would and waits for the frame to be gone.
    bool CloseAndWait(int timeoutMs = 10000)
    {
        frame->close();
        return PumpUntil([this] { return !frame->isVisible(); }, timeoutMs);
    }
    CVyrNVRView* View() { return frame->View(); }
    // Runs between the view's creation and its start-up (clock, free space).
    std::function<void(CVyrNVRView*)> beforeInitialUpdate;

    std::unique_ptr<CVyrNVRDoc> document;
    std::unique_ptr<CMainFrame> frame;
};
