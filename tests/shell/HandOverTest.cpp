#include "EndWithTest.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(HandOver, StartWordsNameTheCallersTitle)
{
    EXPECT_EQ(viewer::CallerTitleFromWord("BackupViewer"), "Backup Viewer");
    EXPECT_EQ(viewer::CallerTitleFromWord("EventViewer"), "Event Viewer");
    EXPECT_EQ(viewer::CallerTitleFromWord("NetworkViewer"), "Network Viewer");
    EXPECT_EQ(viewer::CallerTitleFromWord("device.vyr"), "");
    EXPECT_EQ(viewer::CallerTitleFromWord(""), "");
    EXPECT_TRUE(viewer::HandOverSocketName("Network Viewer").startsWith("vyr-network-viewer-"));
}

TEST(HandOver, AViewerInAnotherProcessClosesWhenAsked)
{
    const QString title = QStringLiteral("Probe Viewer %1").arg(QCoreApplication::applicationPid());
    QProcess probe;
    testsupport::EndWithTest(probe);
    probe.start(HANDOVER_PROBE, {title});
    ASSERT_TRUE(probe.waitForStarted());
    ASSERT_TRUE(probe.waitForReadyRead(10000));
    ASSERT_EQ(probe.readLine().trimmed(), "ready");

    EXPECT_TRUE(viewer::RequestViewerClose(title));
    ASSERT_TRUE(probe.waitForFinished(10000));
    EXPECT_EQ(probe.exitCode(), 0);
    EXPECT_EQ(probe.readAllStandardOutput().trimmed(), "closing");
    // Nobody listens any more: the request fails instead of hanging.
    EXPECT_FALSE(viewer::RequestViewerClose(title, 500));
}

TEST(HandOver, ASecondWindowOfTheSameTitleTakesOverAStaleSocket)
{
    const QString title = QStringLiteral("Stale Viewer %1").arg(QCoreApplication::applicationPid());
    int closes = 0;
    {
        viewer::ViewerCloseServer first(title, [&] { ++closes; });
        ASSERT_TRUE(first.Listening());
    }
    viewer::ViewerCloseServer second(title, [&] { ++closes; });
    EXPECT_TRUE(second.Listening());
}

// Whether the viewer titled `title` answers on its hand-over socket: its
// event loop runs.
bool Answers(const QString& title, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(viewer::HandOverSocketName(title));
        if (socket.waitForConnected(200) && socket.write("HELLO\n") > 0 && socket.waitForReadyRead(2000))
            return socket.readLine().trimmed() == "?";
        QThread::msleep(100);
    }
    return false;
}

// The viewers end on a logout's or a closed terminal's signal as when their
// window is closed: settings saved, exit status 0.
TEST(HandOver, ViewersEndOnSignalsAsWhenTheirWindowIsClosed)
{
    struct Run {
        const char* program;
        const char* title;
        int signal;
        std::vector<const char*> settings;
    };
    const Run runs[] = {{VYREVENT_PROGRAM, "Event Viewer", SIGINT, {"device.vyr", "config_ev.vyr", "config_win.vyr"}},
                        {VYRBACKUP_PROGRAM, "Backup Viewer", SIGHUP, {"device.vyr", "config_bv.vyr", "config_win.vyr"}}};
    for (const Run& run : runs) {
        SCOPED_TRACE(run.title);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VYR_REGISTRY", dir.filePath("registry.ini"));
        env.insert("HOME", dir.path());
        const QString space = QStringLiteral("signals%1").arg(QCoreApplication::applicationPid());
        env.insert("VYR_HANDOVER_NAMESPACE", space);
        qputenv("VYR_HANDOVER_NAMESPACE", space.toUtf8());
        QProcess regsvr;
        regsvr.setProcessEnvironment(env);
        regsvr.start(REGSVR_PROGRAM, {VYRDAX_LIBRARY});
        ASSERT_TRUE(regsvr.waitForFinished(10000));
        ASSERT_EQ(regsvr.exitCode(), 0);

        QProcess viewer;
        viewer.setProcessEnvironment(env);
        viewer.setWorkingDirectory(dir.path());
        testsupport::EndWithTest(viewer);
        viewer.start(run.program, {});
        ASSERT_TRUE(viewer.waitForStarted());
        ASSERT_TRUE(Answers(run.title, 20000));
        ::kill(static_cast<pid_t>(viewer.processId()), run.signal);
        QElapsedTimer ending;
        ending.start();
        ASSERT_TRUE(viewer.waitForFinished(20000));
        EXPECT_LT(ending.elapsed(), 15000);
        EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(viewer.exitCode(), 0);
        for (const char* name : run.settings)
            EXPECT_TRUE(QFileInfo(dir.filePath(name)).size() > 0) << name;
    }
}

TEST(HandOver, LaunchingAProgramThatIsNotThereIsReported)
{
    QString error;
    EXPECT_FALSE(viewer::LaunchViewer("/nonexistent/VyrBackup", "NetworkViewer", &error));
    EXPECT_TRUE(error.contains("VyrBackup"));
}

} // namespace
