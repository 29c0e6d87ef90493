#pragma once
// Copies the recordings of a time range into a backup folder: the operator
// picks start, end and folder; the control's progress reaches the dialog
// through the view.
#include <QDialog>

#include <cstdint>
#include <ctime>
#include <functional>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimeEdit;

namespace backupviewer {

class CBackupDlg : public QDialog {
public:
    enum ControlId {
        IDC_START_DATE = 1049, IDC_START_TIME = 1097, IDC_END_DATE = 1091, IDC_END_TIME = 1098,
        IDC_DIRECTORY = 1036, IDC_BROWSE = 1002, IDC_SPACE = 1100, IDC_STATUS = 1101, IDC_BACKUP = 1099,
        IDC_CLOSE = 2,
    };
    // Progress notices of the control: (1, MiB) the estimate, (0, 0) done,
    // (0, -1) failed.
    static constexpr uintptr_t kProgressEstimate = 1;
    static constexpr uintptr_t kProgressEnd = 0;
    static constexpr intptr_t kEndFailed = -1;

    // Starts the copy on the view's control; returns what BackUp returned.
    std::function<long(const QString& backupDirectory, long start, long end, long freeMiB)> startBackup;

    // The folder starts at `initialDirectory`, else at the home folder.
    explicit CBackupDlg(QWidget* parent = nullptr, const QString& initialDirectory = QString());

    // Free space available to this user on the directory's file system, in
    // MiB, the unit of the control's estimate; 0 when it cannot be measured.
    static long GetFreeSpaceMB(const QString& directory);

    void SetRange(const QDateTime& start, const QDateTime& end);
    void OnBrowse();
    void OnBackup();
    void OnProgress(uintptr_t wParam, intptr_t lParam);

    QString BackupDirectory() const { return directory_; }
    long FreeSpace() const { return freeSpace_; }
    QString SpaceText() const;
    QString StatusText() const;
    bool CloseEnabled() const;
    bool BackupEnabled() const;
    bool Running() const { return running_; }
    // Replaces the free-space measure (tests).
    std::function<long(const QString&)> freeSpaceSource;

protected:
    void reject() override;

private:
    void UpdateFreeSpace();
    void Finish(const char* status);
    void SetIdle(bool idle);

    QString directory_;
    long freeSpace_ = 0;
    bool running_ = false;
    QDateEdit* startDate_;
    QTimeEdit* startTime_;
    QDateEdit* endDate_;
    QTimeEdit* endTime_;
    QLineEdit* directoryEdit_;
    QLabel* space_;
    QLabel* status_;
    QPushButton* backup_;
    QPushButton* close_;
};

} // namespace backupviewer
