// VyrNetwork as a program: started in its own directory on settings that
// connect at start-up, closed from outside through its hand-over socket or
// by the signals of a shutdown, a logout or a terminal.
#include "EndWithTest.h"
#include "SimProcess.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <csignal>
#include <thread>

namespace {

// The program directory `dir` with settings from nvsetup for the DVR at
// `port` (and `more` of its options), and the environment to run the viewer
// in: offscreen, HOME (and so the recording directory) inside `dir`, a
// registry of its own with the freshly built control in it.
bool PrepareProgramDirectory(const QTemporaryDir& dir, int port, const QStringList& more, QProcessEnvironment* env)
{
    *env = QProcessEnvironment::systemEnvironment();
    env->insert("QT_QPA_PLATFORM", "offscreen");
    env->insert("VYR_REGISTRY", dir.filePath("registry.ini"));
    env->insert("HOME", dir.path());
    const QString space = QStringLiteral("program%1").arg(QCoreApplication::applicationPid());
    env->insert("VYR_HANDOVER_NAMESPACE", space);
    qputenv("VYR_HANDOVER_NAMESPACE", space.toUtf8());
    QProcess setup;
    setup.setProcessEnvironment(*env);
    setup.start(NVSETUP_PROGRAM,
                QStringList{"--dir", dir.path(), "--port", QString::number(port), "--channels", "4"} + more);
    if (!setup.waitForFinished(10000) || setup.exitCode() != 0)
        return false;
    QProcess regsvr;
    regsvr.setProcessEnvironment(*env);
    regsvr.start(QFileInfo(VYRNETWORK_PROGRAM).dir().filePath("regsvr"), {VYRDAX_LIBRARY});
    return regsvr.waitForFinished(10000) && regsvr.exitCode() == 0;
}

TEST(Program, StartsConnectedAndClosesWhenAskedThroughItsSocket)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "4", "--size", "352x240"}));
    QProcessEnvironment env;
    ASSERT_TRUE(PrepareProgramDirectory(dir, sim.port(), {}, &env));

    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.setWorkingDirectory(dir.path());
    testsupport::EndWithTest(viewer);
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

// The movie files under `directory`, with their sizes.
std::map<QString, qint64> Movies(const QString& directory)
{
    std::map<QString, qint64> movies;
    QDirIterator it(directory, {"*.mp4"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        movies[path] = QFileInfo(path).size();
    }
    return movies;
}

int CountLines(const SimProcess& sim, const std::string& start)
{
    int n = 0;
    for (const std::string& line : sim.logLines())
        n += line.rfind(start, 0) == 0;
    return n;
}

// Recording by the schedule on every cell when the signals come: the
// program ends as when its window is closed, with each recording finished
// with its index, its settings saved and its sessions logged out, once.
TEST(Program, EndsOnTerminationSignalsAsWhenClosedWithItsRecordingsFinished)
{
    const std::vector<std::vector<int>> cases = {{SIGTERM}, {SIGINT}, {SIGHUP, SIGTERM}};
    for (const std::vector<int>& sent : cases) {
        SCOPED_TRACE(sent.size() == 1 ? strsignal(sent[0]) : "two signals");
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--channels", "4", "--size", "352x240"}));
        QProcessEnvironment env;
        ASSERT_TRUE(PrepareProgramDirectory(dir, sim.port(), {"--schedule"}, &env));

        QProcess viewer;
        viewer.setProcessEnvironment(env);
        viewer.setWorkingDirectory(dir.path());
        testsupport::EndWithTest(viewer);
        viewer.start(VYRNETWORK_PROGRAM, {});
        ASSERT_TRUE(viewer.waitForStarted());
        // Four recordings well under way.
        const QString recordings = dir.filePath("OXA/Recording");
        QElapsedTimer waited;
        waited.start();
        auto underWay = [&] {
            const auto movies = Movies(recordings);
            return movies.size() == 4 &&
                   std::all_of(movies.begin(), movies.end(), [](const auto& m) { return m.second > 100000; });
        };
        while (!underWay() && waited.elapsed() < 30000 && viewer.state() == QProcess::Running)
            viewer.waitForFinished(100);
        ASSERT_TRUE(underWay()) << Movies(recordings).size();

        QElapsedTimer ending;
        ending.start();
        for (int signal : sent)
            ::kill(static_cast<pid_t>(viewer.processId()), signal);
        ASSERT_TRUE(viewer.waitForFinished(20000));
        EXPECT_LT(ending.elapsed(), 15000);
        EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(viewer.exitCode(), 0);

        const auto movies = Movies(recordings);
        EXPECT_EQ(movies.size(), 4u);
        for (const auto& [path, size] : movies) {
            EXPECT_TRUE(QFileInfo(path + "i").size() > 0) << path.toStdString();
            QProcess movdump;
            movdump.start(MOVDUMP_PROGRAM, {path, "--quiet"});
            ASSERT_TRUE(movdump.waitForFinished(20000));
            EXPECT_EQ(movdump.exitCode(), 0) << path.toStdString() << movdump.readAll().toStdString();
        }
        EXPECT_TRUE(QFileInfo(dir.filePath("config_win.vyr")).size() > 0);
        EXPECT_NE(sim.waitForLog("LOGOUT", 3000), "");
        EXPECT_EQ(CountLines(sim, "LOGIN "), 1);
        EXPECT_EQ(CountLines(sim, "LOGOUT"), 1);
        if (HasFailure())
            return;
    }
}

} // namespace
