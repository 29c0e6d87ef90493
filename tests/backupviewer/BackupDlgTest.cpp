#include "BackupViewerFixture.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "tests/widgets/PlatformKeys.h"
#include "viewercore/widgets/FolderChooser.h"

#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QStyleHints>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace backupviewer;

namespace {

struct BackupCall {
    QString folder;
    long start = 0, end = 0, free = 0;
};

// A dialog whose free space is `free` MiB and whose control answers the
// start with `estimate` MiB, as the control's BackUp does.
struct Harness {
    explicit Harness(long free, long estimate, QString folder = "/backups")
    {
        dialog.freeSpaceSource = [free](const QString&) { return free; };
        dialog.startBackup = [this, estimate, free](const QString& f, long s, long e, long space) {
            calls.push_back({f, s, e, space});
            dialog.OnProgress(CBackupDlg::kProgressEstimate, estimate);
            if (estimate == 0 || estimate > free)
                return 0L;
            // The copy thread's end notice, as soon as the event loop runs.
            if (endAtOnce)
                QTimer::singleShot(0, &dialog, [this] { dialog.OnProgress(CBackupDlg::kProgressEnd, 0); });
            return 1L;
        };
        QString chosen;
        auto previous = SetFolderChooserHandler([folder](QWidget*, const QString&, const QString&) { return folder; });
        dialog.OnBrowse();
        SetFolderChooserHandler(previous);
        dialog.SetRange(QDateTime(QDate(2026, 12, 31), QTime(10, 0)), QDateTime(QDate(2026, 12, 31), QTime(11, 0)));
    }
    CBackupDlg dialog;
    std::vector<BackupCall> calls;
    // A backup that starts ends as soon as the event loop runs, as a short one does.
    bool endAtOnce = false;
};

// Counts the events of one type a watched object receives.
class EventCounter : public QObject {
public:
    EventCounter(QEvent::Type type, int* count) : type_(type), count_(count) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type_)
            ++*count_;
        return false;
    }

private:
    QEvent::Type type_;
    int* count_;
};

} // namespace

TEST(BackupDialog, ProgressTextsForEmptyExactAndTooLargeBackups)
{
    {
        Harness h(100, 0);
        h.dialog.OnBackup();
        EXPECT_EQ(h.dialog.SpaceText(), "0 / 100 (MB)");
        EXPECT_EQ(h.dialog.StatusText(), kNoRecordedFile);
        EXPECT_TRUE(h.dialog.CloseEnabled());
    }
    {
        Harness h(100, 100);
        h.dialog.OnBackup();
        ASSERT_EQ(h.calls.size(), 1u);
        EXPECT_EQ(h.calls[0].free, 100);
        EXPECT_EQ(h.calls[0].folder, "/backups");
        EXPECT_EQ(h.calls[0].end - h.calls[0].start, 3600);
        EXPECT_EQ(h.dialog.SpaceText(), "100 / 100 (MB)");
        EXPECT_EQ(h.dialog.StatusText(), kBackupInProcess);
        EXPECT_FALSE(h.dialog.CloseEnabled());
        // A remote session's end on another display index is not the backup's.
        h.dialog.OnProgress(CBackupDlg::kProgressEnd, 3);
        EXPECT_FALSE(h.dialog.CloseEnabled());
        h.dialog.OnProgress(CBackupDlg::kProgressEnd, 0);
        EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
        EXPECT_TRUE(h.dialog.CloseEnabled());
        // Once over, an end notice changes nothing.
        h.dialog.OnProgress(CBackupDlg::kProgressEnd, CBackupDlg::kEndFailed);
        EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
    }
    {
        Harness h(100, 101);
        h.dialog.OnBackup();
        EXPECT_EQ(h.dialog.SpaceText(), "101 / 100 (MB)");
        EXPECT_EQ(h.dialog.StatusText(), kNotEnoughSpace);
        EXPECT_TRUE(h.dialog.CloseEnabled());
    }
    {
        Harness h(100, 5);
        h.dialog.OnBackup();
        h.dialog.OnProgress(CBackupDlg::kProgressEnd, CBackupDlg::kEndFailed);
        EXPECT_EQ(h.dialog.StatusText(), kBackupFailed);
        EXPECT_TRUE(h.dialog.CloseEnabled());
    }
}

TEST(BackupDialog, RefusesEqualTimesAndDatesOutOfRange)
{
    Harness h(100, 5);
    const QDateTime t(QDate(2026, 12, 31), QTime(10, 0));
    h.dialog.SetRange(t, t);
    h.dialog.OnBackup();
    EXPECT_TRUE(h.calls.empty());
    EXPECT_EQ(h.dialog.StatusText(), kEndBeforeStart);
    EXPECT_TRUE(h.dialog.CloseEnabled());
    h.dialog.SetRange(QDateTime(QDate(2040, 1, 1), QTime(0, 0)), QDateTime(QDate(2040, 1, 2), QTime(0, 0)));
    h.dialog.OnBackup();
    EXPECT_TRUE(h.calls.empty());
    EXPECT_EQ(h.dialog.StatusText(), kDateOutOfRange);
}

TEST(BackupDialog, TheFolderChooserUpdatesTheFreeSpaceAndACancelKeepsTheFolder)
{
    CBackupDlg dialog;
    dialog.freeSpaceSource = [](const QString& folder) { return folder == "/big" ? 5000L : 7L; };
    auto previous = SetFolderChooserHandler([](QWidget*, const QString& title, const QString&) {
        EXPECT_EQ(title, kChooseFolderTitle);
        return QString("/big");
    });
    dialog.OnBrowse();
    EXPECT_EQ(dialog.BackupDirectory(), "/big");
    EXPECT_EQ(dialog.FreeSpace(), 5000);
    SetFolderChooserHandler([](QWidget*, const QString&, const QString&) { return QString(); });
    dialog.OnBrowse();
    EXPECT_EQ(dialog.BackupDirectory(), "/big");
    SetFolderChooserHandler(previous);
    EXPECT_GT(CBackupDlg::GetFreeSpaceMB(QDir::tempPath()), 0);
}

TEST(BackupDialog, BackupIsPressedOnceWhileABackupRunsAndTheFolderStartsAtHome)
{
    {
        CBackupDlg dialog;
        EXPECT_EQ(dialog.BackupDirectory(), QDir::homePath());
        CBackupDlg given(nullptr, "/srv/backups");
        EXPECT_EQ(given.BackupDirectory(), "/srv/backups");
    }
    Harness h(100, 5);
    auto* backup = h.dialog.findChild<QPushButton*>(QString::number(CBackupDlg::IDC_BACKUP));
    ASSERT_NE(backup, nullptr);
    h.dialog.show();
    // A double click on the button, then a press by keyboard.
    QTest::mouseClick(backup, Qt::LeftButton);
    QTest::mouseClick(backup, Qt::LeftButton);
    h.dialog.OnBackup();
    EXPECT_EQ(h.calls.size(), 1u);
    EXPECT_FALSE(h.dialog.BackupEnabled());
    EXPECT_FALSE(h.dialog.CloseEnabled());
    h.dialog.OnProgress(CBackupDlg::kProgressEnd, 0);
    EXPECT_TRUE(h.dialog.BackupEnabled());
    QTest::mouseClick(backup, Qt::LeftButton);
    EXPECT_EQ(h.calls.size(), 2u);
    // A refused start (the control's end notice comes before BackUp returns)
    // gives the button back at once.
    h.dialog.startBackup = [&h](const QString&, long, long, long) {
        h.dialog.OnProgress(CBackupDlg::kProgressEstimate, 5);
        h.dialog.OnProgress(CBackupDlg::kProgressEnd, CBackupDlg::kEndFailed);
        return 0L;
    };
    h.dialog.OnProgress(CBackupDlg::kProgressEnd, 0);
    h.dialog.OnBackup();
    EXPECT_EQ(h.dialog.StatusText(), kBackupFailed);
    EXPECT_TRUE(h.dialog.BackupEnabled());
    EXPECT_TRUE(h.dialog.CloseEnabled());
}

// Clicks as the platform delivers them: a double click, its second click an
// event of its own, is one press whether the backup it started has ended
// before the second click or still runs; clicks farther apart than the
// double-click interval are two presses.
TEST(BackupDialog, ADoubleClickIsOnePressHoweverFastTheBackupEndsAndSlowerClicksAreTwo)
{
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    ASSERT_GT(interval, 120);
    ASSERT_LT(interval, 550);
    Harness h(100, 5);
    h.endAtOnce = true;
    h.dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.dialog));
    auto* backup = h.dialog.findChild<QPushButton*>(QString::number(CBackupDlg::IDC_BACKUP));
    ASSERT_NE(backup, nullptr);
    int doubleClicks = 0;
    EventCounter counter(QEvent::MouseButtonDblClick, &doubleClicks);
    backup->installEventFilter(&counter);
    unsigned long t = QTest::lastMouseTimestamp + 10000;
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        PlatformClick(backup, t);
        QTest::qWait(120);
        EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
        ASSERT_TRUE(h.dialog.BackupEnabled());
        PlatformClick(backup, t + 120);
        QTest::qWait(50);
        EXPECT_EQ(h.calls.size(), std::size_t(k + 1));
        EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
        EXPECT_TRUE(h.dialog.CloseEnabled());
        t += 2000;
    }
    EXPECT_EQ(doubleClicks, 3) << "the second clicks came as the platform's double clicks";
    // 0.55 s apart: two presses, two backups.
    PlatformClick(backup, t);
    QTest::qWait(50);
    PlatformClick(backup, t + 550);
    QTest::qWait(50);
    EXPECT_EQ(h.calls.size(), 5u);
    EXPECT_EQ(doubleClicks, 3);
    // A double click on a backup that still runs at its second click.
    h.endAtOnce = false;
    t += 2000;
    PlatformClick(backup, t);
    PlatformClick(backup, t + 120);
    QTest::qWait(50);
    EXPECT_EQ(h.calls.size(), 6u);
    EXPECT_FALSE(h.dialog.BackupEnabled());
    h.dialog.OnProgress(CBackupDlg::kProgressEnd, 0);
    EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
    // A press by keyboard is a press of its own, double click or not.
    QTest::keyClick(backup, Qt::Key_Space);
    EXPECT_EQ(h.calls.size(), 7u);
    QTest::lastMouseTimestamp = int(t + 2000);
}

// Return held down as the platform delivers it, each backup ending before the
// key's next repeat: one press wherever the focus is, on the keypad's Enter
// too, and the folder chooser of the focused "..." opens once. A key
// released and pressed again is a new press; Space held on the button is
// one press, as before.
TEST(BackupDialog, AHeldReturnIsOnePressWhereverTheFocusIsAndReturnPressedAgainIsAnother)
{
    Harness h(100, 5);
    h.endAtOnce = true;
    int chosen = 0;
    auto previous = SetFolderChooserHandler([&chosen](QWidget*, const QString&, const QString&) {
        ++chosen;
        return QString("/backups");
    });
    h.dialog.show();
    h.dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.dialog));
    QWindow* window = h.dialog.windowHandle();
    auto* startDate = h.dialog.findChild<QDateEdit*>(QString::number(CBackupDlg::IDC_START_DATE));
    auto* backup = h.dialog.findChild<QPushButton*>(QString::number(CBackupDlg::IDC_BACKUP));
    auto* folder = h.dialog.findChild<QLineEdit*>(QString::number(CBackupDlg::IDC_DIRECTORY));
    auto* browse = h.dialog.findChild<QPushButton*>(QString::number(CBackupDlg::IDC_BROWSE));
    ASSERT_TRUE(startDate && backup && folder && browse);
    // 25 repeats a second; each backup has ended when the next comes.
    auto repeatInterval = [&h] {
        QTest::qWait(40);
        EXPECT_TRUE(h.dialog.CloseEnabled());
    };
    std::size_t backups = 0;
    for (QWidget* focus : std::initializer_list<QWidget*>{startDate, backup, folder}) {
        SCOPED_TRACE(focus->metaObject()->className());
        focus->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([focus] { return focus->hasFocus(); }));
        PlatformHeldKey(window, Qt::Key_Return, "\r", 12, repeatInterval);
        EXPECT_EQ(h.calls.size(), ++backups);
        EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
    }
    startDate->setFocus();
    PlatformHeldKey(window, Qt::Key_Enter, "\r", 12, repeatInterval, Qt::KeypadModifier);
    EXPECT_EQ(h.calls.size(), ++backups);
    browse->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([browse] { return browse->hasFocus(); }));
    PlatformHeldKey(window, Qt::Key_Return, "\r", 12, [] { QTest::qWait(40); });
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(h.calls.size(), backups);
    SetFolderChooserHandler(previous);
    // Pressed, released, pressed again: two presses, wherever the focus is.
    for (QWidget* focus : std::initializer_list<QWidget*>{startDate, backup}) {
        focus->setFocus();
        PlatformKeyPress(window, Qt::Key_Return, "\r");
        QTest::qWait(40);
        PlatformKeyPress(window, Qt::Key_Return, "\r");
        QTest::qWait(40);
        backups += 2;
        EXPECT_EQ(h.calls.size(), backups) << focus->metaObject()->className();
    }
    // The button gave the focus away while its backup ran.
    backup->setFocus();
    PlatformHeldKey(window, Qt::Key_Space, " ", 12, [] { QTest::qWait(40); });
    QTest::qWait(40);
    EXPECT_EQ(h.calls.size(), ++backups);
    EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
}

// The box or chooser that a press of Return opens belongs to the dialog, as
// does a modal box shown above it: the key's further repeats leave it open
// for the operator to read; a new press answers it. Without the dialog, a
// box takes the repeats as before.
TEST(BackupDialog, TheRepeatsOfAHeldReturnLeaveABoxTheDialogOpenedAndANewPressAnswersIt)
{
    Harness h(100, 5);
    h.dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.dialog));
    QMessageBox box(QMessageBox::Information, "Backup", "A box of the dialog's", QMessageBox::Ok, &h.dialog);
    box.setWindowModality(Qt::NonModal);
    box.show();
    box.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    QWindow* window = box.windowHandle();
    for (int k = 0; k < 12; ++k) {
        qt_handleKeyEvent(window, QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r", true);
        qt_handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
        QTest::qWait(40);
    }
    qt_handleKeyEvent(window, QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r", false);
    QTest::qWait(40);
    EXPECT_TRUE(box.isVisible());
    PlatformKeyPress(window, Qt::Key_Return, "\r");
    EXPECT_TRUE(QTest::qWaitFor([&box] { return !box.isVisible(); }, 2000));
    EXPECT_TRUE(h.calls.empty());
    // A modal box of another window, shown above the dialog as the press's
    // end (the event viewer's monitor tells the end of a database backup
    // so), stays open too.
    QWidget owner;
    QMessageBox above(QMessageBox::Information, "Done", "A modal box above the dialog", QMessageBox::Ok, &owner);
    above.setWindowModality(Qt::ApplicationModal);
    above.show();
    above.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&above));
    qt_handleKeyEvent(above.windowHandle(), QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
    QTest::qWait(40);
    EXPECT_TRUE(above.isVisible());
    above.hide();
    // With the dialog closed, a modal box takes the repeats as before.
    h.dialog.hide();
    above.show();
    above.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&above));
    qt_handleKeyEvent(above.windowHandle(), QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
    EXPECT_TRUE(QTest::qWaitFor([&above] { return !above.isVisible(); }, 2000));
}

// A platform that reads a repeat's release before its press has arrived
// marks neither as a repeat, as the X server's repeats sometimes reach the
// application: the pair still carries the one time stamp of the repeat, and
// starts nothing. A release and a press of different times are a new press.
TEST(BackupDialog, ARepeatThePlatformLeftUnmarkedStartsNothing)
{
    Harness h(100, 5);
    h.endAtOnce = true;
    h.dialog.show();
    h.dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.dialog));
    QWindow* window = h.dialog.windowHandle();
    h.dialog.findChild<QPushButton*>(QString::number(CBackupDlg::IDC_BACKUP))->setFocus();
    // The time stamps the window receives, press and release alike.
    struct Stamps : QObject {
        std::vector<std::pair<QEvent::Type, quint64>> seen;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
                seen.emplace_back(event->type(), static_cast<QKeyEvent*>(event)->timestamp());
            return false;
        }
    } stamps;
    window->installEventFilter(&stamps);
    // Sent back to back, a pair nearly always falls in one millisecond; one
    // that does not is, for the dialog too, a key pressed again. A loaded
    // machine splits more pairs, so pairs go on until eight fell in one.
    std::size_t unmarked = 0, pressedAgain = 0;
    qt_handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", false);
    QTest::qWait(40);
    for (int k = 0; k < 400 && unmarked < 8; ++k) {
        qt_handleKeyEvent(window, QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r", false);
        qt_handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", false);
        QTest::qWait(40);
        ASSERT_EQ(stamps.seen.size(), 3 + 2 * static_cast<std::size_t>(k));
        const std::size_t last = stamps.seen.size() - 1;
        (stamps.seen[last - 1].second == stamps.seen[last].second ? unmarked : pressedAgain) += 1;
    }
    qt_handleKeyEvent(window, QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r", false);
    QTest::qWait(40);
    window->removeEventFilter(&stamps);
    ASSERT_EQ(stamps.seen.size(), 2 + 2 * (unmarked + pressedAgain));
    EXPECT_EQ(unmarked, 8u);
    EXPECT_EQ(h.calls.size(), 1 + pressedAgain);
    EXPECT_EQ(h.dialog.StatusText(), kBackupCompleted);
}
