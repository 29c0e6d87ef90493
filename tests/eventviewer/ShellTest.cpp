// The event viewer's shell: start words and closing the caller, the hidden
// instances and their notices, system setup with the folder chooser, the
// hand-over and the close, from the window or by a signal.
#include "EndWithTest.h"
#include "EventViewer/dialogs/CSystemSetupDlg.h"
#include "platform/ProcessSignals.h"
#include "SimProcess.h"
#include "tests/widgets/PlatformKeys.h"
#include "ViewerFixture.h"
#include "viewercore/shell/ViewerHandOver.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/FolderChooser.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <csignal>

TEST(EventViewerShell, StartWords)
{
    EXPECT_EQ(StartModeFromWord("NetworkViewer"), 1);
    EXPECT_EQ(StartModeFromWord("BackupViewer"), 2);
    EXPECT_EQ(StartModeFromWord("EventViewer"), 0);
    EXPECT_EQ(StartModeFromWord("device.vyr"), 0);
    EXPECT_EQ(StartModeFromWord(""), 0);
}

TEST_F(ViewerFixture, StartedByTheBackupViewerItClosesItAfterHalfASecond)
{
    // The backup viewer's window stands in another process, as it would.
    QProcess backup;
    testsupport::EndWithTest(backup);
    backup.start(HANDOVER_PROBE, {viewer::kBackupViewerTitle});
    ASSERT_TRUE(backup.waitForStarted());
    ASSERT_TRUE(backup.waitForReadyRead(10000));
    ASSERT_EQ(backup.readLine().trimmed(), "ready");
    WriteSites({});
    QElapsedTimer clock;
    clock.start();
    Start(2);
    EXPECT_EQ(frame->windowTitle(), "Event Viewer");
    // Hidden until the half second is over, which a start slowed by a
    // loaded machine may already have seen out.
    if (View()->HandOverButtonsVisible())
        EXPECT_GE(clock.elapsed(), 450) << "the hand-over buttons were shown before the half second";
    ASSERT_TRUE(PumpUntil([&] { return backup.state() == QProcess::NotRunning; }, 5000));
    EXPECT_GE(clock.elapsed(), 450);
    EXPECT_EQ(backup.exitCode(), 0);
    EXPECT_EQ(backup.readAllStandardOutput().trimmed(), "closing");
    EXPECT_TRUE(View()->HandOverButtonsVisible());
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(ViewerFixture, StartedAloneItClosesNobodyAndShowsItsPages)
{
    // A window titled as the backup viewer is left alone.
    int closes = 0;
    viewer::ViewerCloseServer backup(viewer::kBackupViewerTitle, [&] { ++closes; });
    WriteSites({{"Gate", 9, ""}});
    Start(0);
    EXPECT_EQ(frame->minimumSize(), QSize(1024, 768));
    EXPECT_EQ(View()->InstancesCreated(), 16);
    for (int slot = 0; slot < 16; ++slot) {
        ASSERT_NE(View()->Instance(slot)->Widget(), nullptr);
        EXPECT_FALSE(View()->Instance(slot)->Widget()->isVisible()) << slot;
    }
    ASSERT_TRUE(PumpUntil([&] { return View()->HandOverButtonsVisible(); }, 3000));
    EXPECT_EQ(closes, 0);
    ASSERT_NE(Monitor(), nullptr);
    EXPECT_TRUE(Monitor()->isVisible());
    EXPECT_EQ(Monitor()->geometry(), QRect(11, 76, 1024 - 23, 768 - 76 - 17));
    EXPECT_EQ(Monitor()->RowCount(), 1);
    EXPECT_EQ(Monitor()->RowText(0, 1), "0");
    for (int id : {IDC_GO_NETWORK_VIEWER, IDC_GO_BACKUP_VIEWER, IDC_EVENT_SETUP, IDC_MONITOR_PAGE, IDC_SEARCH_PAGE})
        EXPECT_NE(View()->Button(id), nullptr) << id;
    EXPECT_EQ(View()->Button(IDC_GO_BACKUP_VIEWER)->geometry(), QRect(180, 9, 164, 24));
    // The database directory is made when the monitor opens.
    EXPECT_TRUE(QDir(dir.filePath("DB")).exists());
    ASSERT_TRUE(CloseAndWait());
    // Closing stores state 0 with the window's place.
    SettingsDocument saved(ViewerVariant::Event, dir.path());
    saved.OnNewDocument();
    EXPECT_TRUE(saved.windowPlacementLoaded);
    EXPECT_EQ(saved.windowStyle, 0u);
    EXPECT_EQ(saved.windowRect.right - saved.windowRect.left, 1024);
}

TEST_F(ViewerFixture, NoticesOfTheInstancesReachTheMonitor)
{
    WriteSites({{"Gate", 9, ""}});
    Start(0);
    CEventDlg* monitor = Monitor();
    monitor->OnTracking();
    ASSERT_EQ(monitor->RowText(0, 2), "Polling");
    // A "Not Responding" sent to the view ends the row and always sounds.
    platform::SendMessage(View(), vyrdax::WM_VIDEO_PROGRESS, 3, 0);
    EXPECT_EQ(monitor->RowText(0, 2), "Not Responding");
    EXPECT_EQ(monitor->AlarmsStarted(), 1);
    // A notice for a slot that is not one does nothing.
    platform::SendMessage(View(), vyrdax::WM_VIDEO_PROGRESS, 3, 16);
    platform::SendMessage(View(), vyrdax::WM_VIDEO_LINK_ERROR, 1, -1);
    EXPECT_EQ(monitor->AlarmsStarted(), 1);
    EXPECT_TRUE(PumpUntil([&] { return monitor->Idle(); }, 3000));
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(ViewerFixture, ClosingWaitsForAConnectedPollToEnd)
{
    SimProcess silent;
    std::string error;
    ASSERT_TRUE(silent.start({"--fault", "silence", "--channels", "4"}, &error)) << error;
    WriteSites({{"Silent", silent.port(), ""}});
    Start(0);
    Pump(200); // the start-up timers of the view
    Monitor()->OnTracking();
    // The login is answered on the GUI thread, so the events are served
    // while the test waits.
    ASSERT_TRUE(PumpUntil([&] { return silent.waitForLog("CMD 32", 1) != ""; }, 5000));
    EXPECT_TRUE(View()->isConnect(0));
    ASSERT_TRUE(CloseAndWait());
    EXPECT_FALSE(View()->isConnect(0));
    EXPECT_TRUE(Monitor()->Idle()); // nothing more is polled
    EXPECT_NE(silent.waitForLog("LOGOUT", 3000), "");
    EXPECT_EQ(frame->IdleChecks(), 1);
}

TEST_F(ViewerFixture, SystemSetupChoosesFoldersAndBacksTheDatabaseUp)
{
    WriteSites({{"Gate", 9, ""}});
    const QString db = dir.filePath("DB");
    ASSERT_TRUE(QDir().mkpath(db));
    ASSERT_TRUE(eventdb::AppendBatch(db, "Gate", {MakeEvent(1, kClassCamera, 2, 1), MakeEvent(2, kClassCamera, 2, 2)})
                    .opened);
    Start(0);
    const QString chosen = dir.filePath("NewDB");
    QStringList asked;
    const FolderChooserHandler previous =
        SetFolderChooserHandler([&](QWidget*, const QString& title, const QString& initial) {
            asked << title << initial;
            return chosen;
        });
    bool sawDialog = false;
    QTimer::singleShot(100, [&] {
        auto* setup = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(setup, nullptr);
        sawDialog = true;
        EXPECT_EQ(setup->windowTitle(), "System Setup");
        setup->findChild<QPushButton*>(QString::number(IDC_BACKUP_DATABASE))->click();
        setup->findChild<QPushButton*>(QString::number(IDC_BROWSE_DATABASE))->click();
        EXPECT_EQ(setup->findChild<QLineEdit*>(QString::number(IDC_DATABASE_EDIT))->text(), chosen);
        setup->accept();
    });
    View()->OpenSystemSetup();
    SetFolderChooserHandler(previous);
    ASSERT_TRUE(sawDialog);
    EXPECT_EQ(asked, (QStringList{"Please choose a folder.", db}));
    // The backup: renamed, seeded with the last record, reported.
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "Backup Complete");
    const std::vector<EventRecord> seeded = eventdb::ReadAll(db + "/Gate.dat");
    ASSERT_EQ(seeded.size(), 1u);
    EXPECT_EQ(seeded[0].key, 2u);
    QStringList backups = QDir(dir.path()).entryList({"DB-*"}, QDir::Dirs);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_EQ(backups[0].size(), QString("DB-").size() + 14);
    // OK: the document, the monitor and "config_ev.vyr" take the new folder.
    EXPECT_EQ(document->Data().databaseDirectory, chosen);
    EXPECT_EQ(Monitor()->DatabaseDirectory(), chosen);
    SettingsDocument saved(ViewerVariant::Event, dir.path());
    saved.OnNewDocument();
    EXPECT_EQ(saved.databaseDirectory, chosen);
    EXPECT_EQ(saved.searchDatabaseDirectory, db);
    ASSERT_TRUE(CloseAndWait());
}

// A "Data Base" that is a plain file: the backup is refused with its
// reason, and the file is neither renamed nor replaced by a folder.
TEST_F(ViewerFixture, ADatabaseThatIsAPlainFileIsNotBackedUp)
{
    WriteSites({{"Gate", 9, ""}});
    const QString db = dir.filePath("DB");
    {
        QFile file(db);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a database");
    }
    Start(0);
    bool sawDialog = false;
    QTimer::singleShot(100, [&] {
        auto* setup = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(setup, nullptr);
        sawDialog = true;
        setup->findChild<QPushButton*>(QString::number(IDC_BACKUP_DATABASE))->click();
        setup->reject();
    });
    View()->OpenSystemSetup();
    ASSERT_TRUE(sawDialog);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "The data base could not be backed up. " + db.toStdString() + " is not a folder.");
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "not a database");
    EXPECT_TRUE(QDir(dir.path()).entryList({"DB-*"}, QDir::AllEntries).isEmpty());
    ASSERT_TRUE(CloseAndWait());
}

// Return held down on the focused "BackUp DataBase" as the platform delivers
// it: the dialog stays open after a backup, and the repeats back nothing up
// again. Pressed again in a later second, it is a second backup.
TEST_F(ViewerFixture, AHeldReturnOnTheDatabaseBackupIsOneBackup)
{
    WriteSites({{"Gate", 9, ""}});
    const QString db = dir.filePath("DB");
    ASSERT_TRUE(QDir().mkpath(db));
    ASSERT_TRUE(eventdb::AppendBatch(db, "Gate", {MakeEvent(1, kClassCamera, 2, 1)}).opened);
    Start(0);
    std::vector<std::size_t> boxesAfter; // after the hold, then after the second press
    QTimer::singleShot(100, [&] {
        auto* setup = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(setup, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(setup));
        QPushButton* backup = setup->findChild<QPushButton*>(QString::number(IDC_BACKUP_DATABASE));
        backup->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([backup] { return backup->hasFocus(); }));
        // 1.5 s at 25 repeats a second.
        PlatformHeldKey(setup->windowHandle(), Qt::Key_Return, "\r", 37, [] { QTest::qWait(40); });
        boxesAfter.push_back(boxes.size());
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        EXPECT_TRUE(QTest::qWaitFor([second] { return QDateTime::currentSecsSinceEpoch() > second; }));
        backup->setFocus();
        PlatformKeyPress(setup->windowHandle(), Qt::Key_Return, "\r");
        boxesAfter.push_back(boxes.size());
        EXPECT_TRUE(setup->isVisible());
        setup->reject();
    });
    View()->OpenSystemSetup();
    ASSERT_EQ(boxesAfter, (std::vector<std::size_t>{1, 2})) << (boxes.empty() ? "" : boxes.back());
    EXPECT_EQ(boxes, (std::vector<std::string>(2, "Backup Complete")));
    EXPECT_EQ(QDir(dir.path()).entryList({"DB-*"}, QDir::Dirs).size(), 2);
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(ViewerFixture, AViewerThatCannotBeStartedIsReported)
{
    WriteSites({});
    Start(0);
    ASSERT_TRUE(PumpUntil([&] { return View()->HandOverButtonsVisible(); }, 3000));
    View()->OnCommand(IDC_GO_BACKUP_VIEWER);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("VyrBackup"), std::string::npos);
    // The hand-over stored state 3 before it tried.
    SettingsDocument saved(ViewerVariant::Event, dir.path());
    saved.OnNewDocument();
    EXPECT_EQ(saved.windowStyle, 3u);
    ASSERT_TRUE(CloseAndWait());
}

TEST(FolderChooser, ACancelLeavesNothing)
{
    const FolderChooserHandler previous =
        SetFolderChooserHandler([](QWidget*, const QString&, const QString&) { return QString(); });
    QString chosen = "old";
    EXPECT_FALSE(BrowseForFolder(nullptr, "/tmp", &chosen));
    EXPECT_TRUE(chosen.isEmpty());
    SetFolderChooserHandler(previous);
}

// The window menu's about entry opens the about box, modal, with the
// program's version and its date line.
TEST_F(ViewerFixture, TheAboutEntryOpensTheAboutBox)
{
    WriteSites({});
    Start();
    QAction* about = frame->AboutAction();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "A&bout Event Viewer");
    EXPECT_TRUE(frame->actions().contains(about));
    EXPECT_EQ(frame->contextMenuPolicy(), Qt::ActionsContextMenu);
    QString title, objectName;
    QStringList texts;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget* box = nullptr;
        PumpUntil([&] { return (box = QApplication::activeModalWidget()) != nullptr; }, 10000);
        if (auto* dialog = qobject_cast<QDialog*>(box)) {
            seen = true;
            title = dialog->windowTitle();
            objectName = dialog->objectName();
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                texts << label->text();
            dialog->accept();
        }
    });
    about->trigger();
    EXPECT_TRUE(seen);
    EXPECT_EQ(title, "About Event Viewer");
    EXPECT_EQ(objectName, "100");
    EXPECT_TRUE(texts.contains("Event Viewer V4.24")) << texts.join('|').toStdString();
    EXPECT_EQ(texts.size(), 2); // the version and the date line
    ASSERT_TRUE(CloseAndWait());
}

// SIGTERM while a poll stores a long event log, SIGINT while that close
// runs: the viewer closes once, as from its window and from its event loop;
// the database holds whole records in order and the settings are saved.
TEST_F(ViewerFixture, TerminationSignalsWhilePollingCloseItOnceAsItsWindowDoes)
{
    const QString eventsFile = dir.filePath("sim-events.bin");
    std::vector<EventRecord> served;
    for (uint32_t key = 1; key <= 20000; ++key)
        served.push_back(MakeEvent(key, kClassCamera, static_cast<uint8_t>(1 + key % 3), static_cast<int>(key % 60)));
    WriteEventsFile(eventsFile, served);
    SimProcess events;
    std::string error;
    ASSERT_TRUE(events.start({"--events-file", eventsFile.toStdString(), "--channels", "4"}, &error)) << error;
    WriteSites({{"Events", events.port(), ""}});
    Start(0);
    Pump(200); // the start-up timers of the view
    int closes = 0;
    platform::CloseOnTerminationSignals([this, &closes] {
        ++closes;
        frame->close();
    });
    for (const char* name : {"device.vyr", "config_ev.vyr", "config_win.vyr"})
        QFile::remove(dir.filePath(name));
    Monitor()->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return Monitor()->RowText(0, 2) == "Write DB"; }, 10000)) << Monitor()->RowText(0, 2).toStdString();
    std::raise(SIGTERM);
    EXPECT_EQ(closes, 0); // not inside the handler: from the event loop
    std::raise(SIGINT);
    const bool closed = PumpUntil([this] { return !frame->isVisible(); }, 10000);
    platform::CloseOnTerminationSignals({});
    ASSERT_TRUE(closed);
    EXPECT_GE(closes, 1);
    EXPECT_TRUE(Monitor()->Idle());
    EXPECT_FALSE(View()->isConnect(0));
    frame.reset(); // as the program's end: the writer is joined
    for (const char* name : {"device.vyr", "config_ev.vyr", "config_win.vyr"})
        EXPECT_TRUE(QFileInfo(dir.filePath(name)).size() > 0) << name;
    const QString database = dir.filePath("DB/Events.dat");
    EXPECT_EQ(QFileInfo(database).size() % 24, 0);
    const std::vector<EventRecord> stored = eventdb::ReadAll(database);
    for (std::size_t k = 0; k < stored.size(); ++k)
        ASSERT_EQ(stored[k].key, k + 1) << "record " << k;
    EXPECT_NE(events.waitForLog("LOGOUT", 3000), "");
    int logouts = 0;
    for (const std::string& line : events.logLines())
        logouts += line.rfind("LOGOUT", 0) == 0;
    EXPECT_EQ(logouts, 1);
}

// A modal dialog open when the signal comes is cancelled, so that the
// window it holds can close.
TEST_F(ViewerFixture, ASignalCancelsAnOpenDialogAndClosesTheWindow)
{
    WriteSites({});
    Start(0);
    Pump(200);
    platform::CloseOnTerminationSignals([this] { frame->close(); });
    QDialog dialog(frame.get());
    QTimer::singleShot(100, [] { std::raise(SIGHUP); });
    QTimer::singleShot(10000, &dialog, &QDialog::accept); // the test fails rather than hangs
    const int result = dialog.exec();
    const bool closed = PumpUntil([this] { return !frame->isVisible(); }, 10000);
    platform::CloseOnTerminationSignals({});
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(closed);
    // Given back their default action.
    struct sigaction now {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}
