// VyrEvent as a program: started by the network viewer it closes it, and it
// closes itself when asked through its hand-over socket, saving its settings.
#include "viewercore/shell/ViewerHandOver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(EventViewerProgram, ClosesTheNetworkViewerThatStartedItAndClosesWhenAsked)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VYR_REGISTRY", dir.filePath("registry.ini"));
    env.insert("HOME", dir.path()); // its default database directory
    const QString space = QStringLiteral("evprogram%1").arg(QCoreApplication::applicationPid());
    env.insert("VYR_HANDOVER_NAMESPACE", space);
    qputenv("VYR_HANDOVER_NAMESPACE", space.toUtf8());
    QProcess regsvr;
    regsvr.setProcessEnvironment(env);
    regsvr.start(QFileInfo(VYREVENT_PROGRAM).dir().filePath("regsvr"), {VYRDAX_LIBRARY});
    ASSERT_TRUE(regsvr.waitForFinished(10000));
    ASSERT_EQ(regsvr.exitCode(), 0);

    QProcess network;
    network.setProcessEnvironment(env);
    network.start(HANDOVER_PROBE, {viewer::kNetworkViewerTitle});
    ASSERT_TRUE(network.waitForStarted());
    ASSERT_TRUE(network.waitForReadyRead(10000));
    ASSERT_EQ(network.readLine().trimmed(), "ready");

    QProcess events;
    events.setProcessEnvironment(env);
    events.setWorkingDirectory(dir.path());
    events.start(VYREVENT_PROGRAM, {viewer::kNetworkViewerWord});
    ASSERT_TRUE(events.waitForStarted());
    ASSERT_TRUE(network.waitForFinished(20000));
    EXPECT_EQ(network.exitCode(), 0);
    EXPECT_EQ(network.readAllStandardOutput().trimmed(), "closing");

    EXPECT_TRUE(viewer::RequestViewerClose(viewer::kEventViewerTitle, 10000));
    ASSERT_TRUE(events.waitForFinished(20000));
    EXPECT_EQ(events.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(events.exitCode(), 0);
    // Its three settings files, each opened by the event viewer's stamp.
    for (const char* name : {"device.vyr", "config_ev.vyr", "config_win.vyr"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(file.read(4), QByteArray::fromHex("75673201")) << name;
    }
    EXPECT_TRUE(QDir(dir.filePath("OXA/DB")).exists());
}
