#include "viewercore/shell/ViewerHandOver.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

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

TEST(HandOver, LaunchingAProgramThatIsNotThereIsReported)
{
    QString error;
    EXPECT_FALSE(viewer::LaunchViewer("/nonexistent/VyrBackup", "NetworkViewer", &error));
    EXPECT_TRUE(error.contains("VyrBackup"));
}

} // namespace
