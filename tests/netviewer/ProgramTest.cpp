// VyrNetwork as a program: started in its own directory on settings that
// connect at start-up, closed from outside through its hand-over socket.
#include "SimProcess.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(Program, StartsConnectedAndClosesWhenAskedThroughItsSocket)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "4", "--size", "352x240"}));
    QProcess setup;
    setup.start(NVSETUP_PROGRAM, {"--dir", dir.path(), "--port", QString::number(sim.port()), "--channels", "4"});
    ASSERT_TRUE(setup.waitForFinished(10000));
    ASSERT_EQ(setup.exitCode(), 0);

    // A registry of its own, with the freshly built control in it.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VYR_REGISTRY", dir.filePath("registry.ini"));
    const QString space = QStringLiteral("program%1").arg(QCoreApplication::applicationPid());
    env.insert("VYR_HANDOVER_NAMESPACE", space);
    qputenv("VYR_HANDOVER_NAMESPACE", space.toUtf8());
    QProcess regsvr;
    regsvr.setProcessEnvironment(env);
    regsvr.start(QFileInfo(VYRNETWORK_PROGRAM).dir().filePath("regsvr"), {VYRDAX_LIBRARY});
    ASSERT_TRUE(regsvr.waitForFinished(10000));
    ASSERT_EQ(regsvr.exitCode(), 0);

    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.setWorkingDirectory(dir.path());
    viewer.start(VYRNETWORK_PROGRAM, {"device.vyr"}); // a file name is never opened: mode 0
    ASSERT_TRUE(viewer.waitForStarted());
    EXPECT_NE(sim.waitForLog("MASK 0000000F", 20000), "");

    EXPECT_TRUE(viewer::RequestViewerClose(viewer::kNetworkViewerTitle, 5000));
    ASSERT_TRUE(viewer.waitForFinished(20000));
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 0);
    EXPECT_NE(sim.waitForLog("LOGOUT", 3000), "");
    // It saved its settings on the way out.
    EXPECT_TRUE(QFileInfo(dir.filePath("config_win.vyr")).size() > 0);
}

} // namespace
