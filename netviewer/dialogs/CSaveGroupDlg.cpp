#include "CSaveGroupDlg.h"

#include "DialogTexts.h"
#include "viewercore/model/SiteRoutines.h"

#include "platform/MessageBox.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace {
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
} // namespace

CSaveGroupDlg::CSaveGroupDlg(SettingsDocument& document, ISaveGroupTarget& target, QWidget* parent)
    : QDialog(parent), m_document(document), m_target(target)
{
    setObjectName(QString::number(IDD));
    setWindowTitle(dialogtext::kSaveGroupCaption);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setModal(true);

    m_groupNameEdit = new QLineEdit(this);
    m_groupNameEdit->setObjectName(QString::number(IDC_GROUP_NAME));
    m_newGroupRadio = new QRadioButton(dialogtext::kNewGroup, this);
    m_newGroupRadio->setObjectName(QString::number(IDC_NEW_GROUP));
    m_overwriteRadio = new QRadioButton(dialogtext::kOverwrite, this);
    m_overwriteRadio->setObjectName(QString::number(IDC_OVERWRITE));
    auto* kindGroup = new QButtonGroup(this);
    kindGroup->addButton(m_newGroupRadio, SaveNewGroup);
    kindGroup->addButton(m_overwriteRadio, SaveOverwrite);
    m_okButton = new QPushButton(tr("OK"), this);
    m_okButton->setObjectName(QString::number(kIdOk));
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_cancelButton->setObjectName(QString::number(kIdCancel));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Group Name"), this), 0, 0);
    grid->addWidget(m_groupNameEdit, 0, 1, 1, 2);
    grid->addWidget(m_newGroupRadio, 1, 1);
    grid->addWidget(m_overwriteRadio, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(m_okButton, &QPushButton::clicked, this, &CSaveGroupDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CSaveGroupDlg::reject);
    connect(m_newGroupRadio, &QRadioButton::clicked, this, &CSaveGroupDlg::OnNewGroup);
    connect(m_overwriteRadio, &QRadioButton::clicked, this, &CSaveGroupDlg::OnOverwrite);
}

void CSaveGroupDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CSaveGroupDlg::OnInitDialog()
{
    m_nSaveKind = SaveNewGroup;
    m_newGroupRadio->setChecked(true);
    if (m_strCurrentName.isEmpty()) {
        // A screen never saved has nothing to overwrite.
        m_newGroupRadio->hide();
        m_overwriteRadio->hide();
        m_strGroupName.clear();
        m_groupNameEdit->setEnabled(true);
    } else {
        m_strGroupName = m_strCurrentName;
        m_groupNameEdit->setEnabled(false);
    }
    m_groupNameEdit->setText(m_strGroupName);
}

void CSaveGroupDlg::OnNewGroup()
{
    m_strGroupName.clear();
    m_nSaveKind = SaveNewGroup;
    m_groupNameEdit->setText(m_strGroupName);
    m_groupNameEdit->setEnabled(true);
}

void CSaveGroupDlg::OnOverwrite()
{
    m_strGroupName = m_strCurrentName;
    m_nSaveKind = SaveOverwrite;
    m_groupNameEdit->setText(m_strGroupName);
    m_groupNameEdit->setEnabled(false);
}

void CSaveGroupDlg::accept()
{
    m_strGroupName = m_groupNameEdit->text();
    // A name of blanks only is as good as none.
    if (m_strGroupName.trimmed().isEmpty()) {
        ShowMessage(dialogtext::kEnterGroupName);
        return;
    }
    const bool overwrite = m_nSaveKind == SaveOverwrite;
    auto& groups = m_document.groupList;
    const auto named = [&](const auto& group) { return group && group->name == m_strGroupName; };
    if (!overwrite && std::any_of(groups.begin(), groups.end(), named)) {
        ShowMessage(QString::asprintf(dialogtext::kGroupNameExists, m_strGroupName.toUtf8().constData()));
        return;
    }
    groups.erase(std::remove_if(groups.begin(), groups.end(), named), groups.end());

    if (m_document.currentGroup)
        m_document.currentGroup->name = m_strGroupName;
    m_target.AddSavedGroup(m_strGroupName, overwrite);
    QDialog::accept();
}

void CSaveGroupDlg::ShowMessage(const QString& text)
{
    platform::MessageBox(this, text.toStdString(), dialogtext::kMessageCaption, platform::MB_OK | platform::MB_ICONWARNING);
}
