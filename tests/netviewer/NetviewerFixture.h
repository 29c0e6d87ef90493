#pragma once
// A network viewer in the test process: a temporary program directory, the
// control registered in a temporary registry, the document, frame and view.
#include "netviewer/CMainFrame.h"
#include "netviewer/CVyrNVRDoc.h"
#include "netviewer/view/CVyrNVRView.h"
#include "platform/Component.h"
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

class NetviewerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previousDirectory = QDir::currentPath();
        QDir::setCurrent(dir.path());
        setenv("VYR_REGISTRY", qPrintable(dir.filePath("registry.ini")), 1);
        setenv("VYR_HANDOVER_NAMESPACE", qPrintable(QStringLiteral("test%1").arg(getpid())), 1);
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

    QTemporaryDir dir;
    QString previousDirectory;
    void* library = nullptr;
    platform::MessageBoxHandler previousBoxes;
    std::vector<std::string> boxes;
    std::unique_ptr<CVyrNVRDoc> document;
    std::unique_ptr<CMainFrame> frame;
};
