#pragma once
// System setup (dialog 290): the database directory the monitor writes, the
// one the search reads, and the database backup.
#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;

enum SystemSetupIds {
    IDD_SYSTEM_SETUP = 290,
    IDC_DATABASE_EDIT = 1036,
    IDC_SEARCH_DATABASE_EDIT = 1037,
    IDC_BROWSE_DATABASE = 1002,
    IDC_BROWSE_SEARCH_DATABASE = 1003,
    IDC_BACKUP_DATABASE = 1022,
};

class CSystemSetupDlg : public QDialog {
public:
    CSystemSetupDlg(const QString& databaseDirectory, const QString& searchDatabaseDirectory,
                    QWidget* parent = nullptr);

    // "BackUp DataBase"; the dialog stays open.
    std::function<void()> onBackup;

    QString DatabaseDirectory() const;
    QString SearchDatabaseDirectory() const;
    QLineEdit* DatabaseEdit() const { return database_; }
    QLineEdit* SearchDatabaseEdit() const { return searchDatabase_; }
    QPushButton* Button(int id) const;

    void OnBrowse(QLineEdit* edit);

private:
    QLineEdit* database_;
    QLineEdit* searchDatabase_;
};
