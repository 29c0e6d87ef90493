#include "CSystemSetupDlg.h"

#include "viewercore/widgets/FolderChooser.h"
#include "viewercore/widgets/HeldEnterFilter.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSystemSetupDlg::CSystemSetupDlg(const QString& databaseDirectory, const QString& searchDatabaseDirectory,
                                 QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QString::number(IDD_SYSTEM_SETUP));
    setWindowTitle("System Setup");
    auto* grid = new QGridLayout;
    auto row = [this, grid](int line, const char* caption, int editId, int browseId, const QString& text) {
        auto* edit = new QLineEdit(text, this);
        edit->setObjectName(QString::number(editId));
        edit->setMinimumWidth(320);
        auto* browse = new QPushButton("...", this);
        browse->setObjectName(QString::number(browseId));
        browse->setFixedWidth(30);
        QObject::connect(browse, &QPushButton::clicked, this, [this, edit] { OnBrowse(edit); });
        grid->addWidget(new QLabel(caption, this), line, 0);
        grid->addWidget(edit, line, 1);
        grid->addWidget(browse, line, 2);
        return edit;
    };
    database_ = row(0, "Data Base", IDC_DATABASE_EDIT, IDC_BROWSE_DATABASE, databaseDirectory);
    searchDatabase_ =
        row(1, "Search DataBase", IDC_SEARCH_DATABASE_EDIT, IDC_BROWSE_SEARCH_DATABASE, searchDatabaseDirectory);
    auto* backup = new QPushButton("BackUp DataBase", this);
    backup->setObjectName(QString::number(IDC_BACKUP_DATABASE));
    QObject::connect(backup, &QPushButton::clicked, this, [this] {
        if (onBackup)
            onBackup();
    });
    grid->addWidget(backup, 2, 1, Qt::AlignLeft);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    // The dialog stays open after a database backup, and Return on the
    // focused backup button would back the database up again on each repeat.
    IgnoreHeldEnter(this);
}

QString CSystemSetupDlg::DatabaseDirectory() const
{
    return database_->text();
}

QString CSystemSetupDlg::SearchDatabaseDirectory() const
{
    return searchDatabase_->text();
}

QPushButton* CSystemSetupDlg::Button(int id) const
{
    return findChild<QPushButton*>(QString::number(id));
}

void CSystemSetupDlg::OnBrowse(QLineEdit* edit)
{
    QString chosen;
    if (BrowseForFolder(this, edit->text(), &chosen))
        edit->setText(chosen);
}
