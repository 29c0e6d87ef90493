#include "CBackupDlg.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/view/DayTimeline.h"
#include "viewercore/widgets/FolderChooser.h"
#include "viewercore/widgets/HeldEnterFilter.h"

#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimeEdit>

#include <sys/statvfs.h>

namespace backupviewer {

namespace {

QLabel* Caption(QWidget* parent, const char* text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, 200, 20);
    return label;
}

// The Backup button takes a double click as one press: a short backup ends
// before the second click comes, and the button, enabled again by then,
// would take it for a second backup.
class SinglePressButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }
};

// Local time of a date and a time of day, seconds since 1970.
std::time_t LocalTime(const QDate& date, const QTime& time)
{
    std::tm tm{};
    tm.tm_year = date.year() - 1900;
    tm.tm_mon = date.month() - 1;
    tm.tm_mday = date.day();
    tm.tm_hour = time.hour();
    tm.tm_min = time.minute();
    tm.tm_sec = time.second();
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

} // namespace

CBackupDlg::CBackupDlg(QWidget* parent, const QString& initialDirectory)
    : QDialog(parent), directory_(initialDirectory.isEmpty() ? QDir::homePath() : initialDirectory)
{
    setObjectName("310");
    setWindowTitle("Backup Dialog");
    setFixedSize(420, 240);
    Caption(this, "Backup Start Time", 14, 10);
    startDate_ = new QDateEdit(QDate::currentDate(), this);
    startDate_->setObjectName(QString::number(IDC_START_DATE));
    startDate_->setGeometry(14, 32, 120, 24);
    startTime_ = new QTimeEdit(QTime(0, 0), this);
    startTime_->setObjectName(QString::number(IDC_START_TIME));
    startTime_->setDisplayFormat("HH:mm:ss");
    startTime_->setGeometry(140, 32, 100, 24);
    Caption(this, "Backup End Time", 14, 62);
    endDate_ = new QDateEdit(QDate::currentDate(), this);
    endDate_->setObjectName(QString::number(IDC_END_DATE));
    endDate_->setGeometry(14, 84, 120, 24);
    endTime_ = new QTimeEdit(QTime::currentTime(), this);
    endTime_->setObjectName(QString::number(IDC_END_TIME));
    endTime_->setDisplayFormat("HH:mm:ss");
    endTime_->setGeometry(140, 84, 100, 24);
    Caption(this, "Backup Directory", 14, 114);
    directoryEdit_ = new QLineEdit(this);
    directoryEdit_->setObjectName(QString::number(IDC_DIRECTORY));
    directoryEdit_->setReadOnly(true);
    directoryEdit_->setGeometry(14, 136, 300, 24);
    auto* browse = new QPushButton("...", this);
    browse->setObjectName(QString::number(IDC_BROWSE));
    browse->setGeometry(320, 136, 30, 24);
    space_ = new QLabel(this);
    space_->setObjectName(QString::number(IDC_SPACE));
    space_->setGeometry(260, 32, 150, 24);
    status_ = new QLabel(this);
    status_->setObjectName(QString::number(IDC_STATUS));
    status_->setGeometry(14, 168, 390, 24);
    backup_ = new SinglePressButton("Backup", this);
    backup_->setObjectName(QString::number(IDC_BACKUP));
    backup_->setDefault(true);
    backup_->setGeometry(230, 202, 80, 26);
    close_ = new QPushButton("Close", this);
    close_->setObjectName(QString::number(IDC_CLOSE));
    close_->setGeometry(320, 202, 80, 26);
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(backup_, &QPushButton::clicked, this, [this] { OnBackup(); });
    connect(close_, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
    directoryEdit_->setText(directory_);
    UpdateFreeSpace();
    // A short backup ends before the key's next repeat, which would start
    // another.
    IgnoreHeldEnter(this);
}

long CBackupDlg::GetFreeSpaceMB(const QString& directory)
{
    struct statvfs fs {};
    if (::statvfs(QFile::encodeName(directory).constData(), &fs) != 0)
        return 0;
    const uint64_t mib = (uint64_t(fs.f_bavail) * fs.f_frsize) >> 20;
    return long(std::min<uint64_t>(mib, INT32_MAX));
}

void CBackupDlg::UpdateFreeSpace()
{
    freeSpace_ = freeSpaceSource ? freeSpaceSource(directory_) : GetFreeSpaceMB(directory_);
    space_->setText(QString::asprintf("%ld MB", freeSpace_));
}

void CBackupDlg::SetRange(const QDateTime& start, const QDateTime& end)
{
    startDate_->setDate(start.date());
    startTime_->setTime(start.time());
    endDate_->setDate(end.date());
    endTime_->setTime(end.time());
}

void CBackupDlg::OnBrowse()
{
    QString chosen;
    if (!BrowseForFolder(this, directory_, &chosen))
        return;
    directory_ = chosen;
    directoryEdit_->setText(directory_);
    UpdateFreeSpace();
}

void CBackupDlg::OnBackup()
{
    // Two backups side by side would each pass the free-space test alone.
    if (running_)
        return;
    SetIdle(false);
    UpdateFreeSpace();
    const std::time_t start = LocalTime(startDate_->date(), startTime_->time());
    const std::time_t end = LocalTime(endDate_->date(), endTime_->time());
    if (!(start < end)) {
        Finish(kEndBeforeStart);
        return;
    }
    if (!FitsControlTime(start) || !FitsControlTime(end)) {
        Finish(kDateOutOfRange);
        return;
    }
    running_ = true;
    const long started = startBackup ? startBackup(directory_, long(start), long(end), freeSpace_) : 0;
    // Nothing was started: the estimate notice has said why.
    if (started == 0) {
        running_ = false;
        SetIdle(true);
    }
}

void CBackupDlg::Finish(const char* status)
{
    running_ = false;
    status_->setText(status);
    SetIdle(true);
}

void CBackupDlg::SetIdle(bool idle)
{
    backup_->setEnabled(idle);
    close_->setEnabled(idle);
}

void CBackupDlg::OnProgress(uintptr_t wParam, intptr_t lParam)
{
    if (wParam == kProgressEstimate) {
        space_->setText(QString::asprintf("%ld / %ld (MB)", long(lParam), freeSpace_));
        if (lParam == 0)
            Finish(kNoRecordedFile);
        else if (lParam > freeSpace_)
            Finish(kNotEnoughSpace);
        else
            status_->setText(kBackupInProcess);
    } else if (wParam == kProgressEnd) {
        // A remote session's failure uses the same notice; only a running
        // backup ends here.
        if (!running_ || (lParam != 0 && lParam != kEndFailed))
            return;
        Finish(lParam == kEndFailed ? kBackupFailed : kBackupCompleted);
    }
}

QString CBackupDlg::SpaceText() const { return space_->text(); }
QString CBackupDlg::StatusText() const { return status_->text(); }
bool CBackupDlg::CloseEnabled() const { return close_->isEnabled(); }
bool CBackupDlg::BackupEnabled() const { return backup_->isEnabled(); }

void CBackupDlg::reject()
{
    // The dialog ends only through Close, and not while a backup runs.
    if (close_->isEnabled())
        QDialog::reject();
}

} // namespace backupviewer
