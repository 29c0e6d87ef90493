// VyrEvent as a program: started by the network viewer it closes it, and it
// closes itself when asked through its hand-over socket, saving its settings.
#include "EndWithTest.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>

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
    testsupport::EndWithTest(network);
    network.start(HANDOVER_PROBE, {viewer::kNetworkViewerTitle});
    ASSERT_TRUE(network.waitForStarted());
    ASSERT_TRUE(network.waitForReadyRead(10000));
    ASSERT_EQ(network.readLine().trimmed(), "ready");

    QProcess events;
    events.setProcessEnvironment(env);
    events.setWorkingDirectory(dir.path());
    testsupport::EndWithTest(events);
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

namespace {

QByteArray WindowFile(const std::array<int32_t, 4>& rect, uint32_t state)
{
    QByteArray bytes = QByteArray::fromHex("75673201");
    auto put = [&bytes](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.append(static_cast<char>(v >> (8 * i)));
    };
    for (int32_t v : rect)
        put(static_cast<uint32_t>(v));
    put(state);
    return bytes;
}

} // namespace

// Started again, the viewer stands where it stood when it was closed: the
// rectangle read from "config_win.vyr" is the one it saves at its next close.
TEST(EventViewerProgram, StartsWhereItWasClosed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A screen large enough for the rectangle, so that nothing has to move it.
    QFile screens(dir.filePath("screens.json"));
    ASSERT_TRUE(screens.open(QIODevice::WriteOnly));
    screens.write(R"({"screens": [{"name": "big", "x": 0, "y": 0, "width": 1920, "height": 1200,
                      "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.close();
    const std::array<int32_t, 4> rect{130, 70, 130 + 1100, 70 + 800};
    QFile window(dir.filePath("config_win.vyr"));
    ASSERT_TRUE(window.open(QIODevice::WriteOnly));
    window.write(WindowFile(rect, 3));
    window.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName());
    env.insert("VYR_REGISTRY", dir.filePath("registry.ini"));
    env.insert("HOME", dir.path());
    const QString space = QStringLiteral("evplace%1").arg(QCoreApplication::applicationPid());
    env.insert("VYR_HANDOVER_NAMESPACE", space);
    qputenv("VYR_HANDOVER_NAMESPACE", space.toUtf8());
    QProcess events;
    events.setProcessEnvironment(env);
    events.setWorkingDirectory(dir.path());
    testsupport::EndWithTest(events);
    events.start(VYREVENT_PROGRAM, {});
    ASSERT_TRUE(events.waitForStarted());
    // Asked to close once it listens.
    bool closing = false;
    for (int attempt = 0; attempt < 200 && !closing && events.state() == QProcess::Running; ++attempt) {
        closing = viewer::RequestViewerClose(viewer::kEventViewerTitle, 2000);
        if (!closing)
            events.waitForFinished(100);
    }
    EXPECT_TRUE(closing);
    ASSERT_TRUE(events.waitForFinished(20000));
    EXPECT_EQ(events.exitCode(), 0);
    ASSERT_TRUE(window.open(QIODevice::ReadOnly));
    EXPECT_EQ(window.readAll().toHex(), WindowFile(rect, 0).toHex());
}
