#include "CPropertyDlg.h"

#include "IPAddressEdit.h"
#include "PropertyTexts.h"

#include "viewercore/model/SiteRoutines.h"

#include "platform/MessageBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabBar>

#include <algorithm>
#include <iterator>
#include <type_traits>

namespace {

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kMaxPort = 65535;
// A camera's channel number picks one of the control's 64 channels. A DVR's
// is kept for the session only, and 0 (no channel chosen) is shown there.
constexpr int kMaxCameraChannelNumber = 64;
constexpr int kMaxTypedChannelNumber = 99;

template <typename W>
W* MakeControl(QWidget* parent, int id, const QString& text = QString())
{
    W* control = new W(parent);
    control->setObjectName(QString::number(id));
    if constexpr (std::is_base_of_v<QAbstractButton, W> || std::is_same_v<W, QLabel>)
        control->setText(text);
    return control;
}

void SetDigitsOnly(QLineEdit* edit, int maxDigits)
{
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^[0-9]{0,%1}$").arg(maxDigits)), edit));
}

// The number typed, or -1 when the field is empty or not a number.
int ReadNumber(const QLineEdit* edit)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    return ok && value >= 0 ? value : -1;
}

} // namespace

CPropertyDlg::CPropertyDlg(SettingsDocument& document, int mode, QWidget* parent)
    : QDialog(parent), m_document(document), m_nMode(mode), m_strLoginId(dialogtext::kDefaultLoginId),
      m_nPort(dialogtext::kDefaultPort), m_nChannel(dialogtext::kDefaultChannelNumber)
{
    setObjectName(QString::number(IDD));
    setWindowTitle(dialogtext::kPropertyCaption);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setModal(true);

    m_deviceKindTab = MakeControl<QTabBar>(this, IDC_DEVICE_KIND);
    m_nameLabel = MakeControl<QLabel>(this, IDC_NAME_LABEL, dialogtext::kDvrNameLabel);
    m_dvrNameEdit = MakeControl<QLineEdit>(this, IDC_DVR_NAME);
    m_channelNameEdit = MakeControl<QLineEdit>(this, IDC_CHANNEL_NAME);
    m_channelTypeCombo = MakeControl<QComboBox>(this, IDC_CHANNEL_TYPE);
    m_staticIpRadio = MakeControl<QRadioButton>(this, IDC_STATIC_IP, tr("Static IP"));
    m_lookupRadio = MakeControl<QRadioButton>(this, IDC_LOOKUP, tr("QUORIX"));
    m_addressCtrl = MakeControl<IPAddressEdit>(this, IDC_ADDRESS);
    m_portEdit = MakeControl<QLineEdit>(this, IDC_PORT);
    m_channelNumberEdit = MakeControl<QLineEdit>(this, IDC_CHANNEL_NUMBER);
    m_loginIdEdit = MakeControl<QLineEdit>(this, IDC_LOGIN_ID);
    m_passwordEdit = MakeControl<QLineEdit>(this, IDC_PASSWORD);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_savePasswordCheck = MakeControl<QCheckBox>(this, IDC_SAVE_PASSWORD, tr("Save Password"));
    m_audioRadios[0] = MakeControl<QRadioButton>(this, IDC_AUDIO_DISABLE, tr("Disable"));
    m_audioRadios[1] = MakeControl<QRadioButton>(this, IDC_AUDIO_SINGLE, tr("Single"));
    m_audioRadios[2] = MakeControl<QRadioButton>(this, IDC_AUDIO_TWO_WAY, tr("Two-way"));
    m_okButton = MakeControl<QPushButton>(this, kIdOk, tr("OK"));
    m_cancelButton = MakeControl<QPushButton>(this, kIdCancel, tr("Cancel"));
    m_okButton->setDefault(true);
    SetDigitsOnly(m_portEdit, 5);
    SetDigitsOnly(m_channelNumberEdit, 2);

    m_addressTypeGroup = new QButtonGroup(this);
    m_addressTypeGroup->addButton(m_staticIpRadio, 0);
    m_addressTypeGroup->addButton(m_lookupRadio, 1);
    m_audioGroup = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i)
        m_audioGroup->addButton(m_audioRadios[i], i);

    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(m_nameLabel, row, 0);
    grid->addWidget(m_dvrNameEdit, row++, 1, 1, 2);
    grid->addWidget(new QLabel(tr("Channel Name"), this), row, 0);
    grid->addWidget(m_channelNameEdit, row++, 1, 1, 2);
    grid->addWidget(new QLabel(tr("Channel Type"), this), row, 0);
    grid->addWidget(m_channelTypeCombo, row++, 1, 1, 2);
    grid->addWidget(m_staticIpRadio, row, 1);
    grid->addWidget(m_lookupRadio, row++, 2);
    grid->addWidget(new QLabel(tr("IP Address"), this), row, 0);
    grid->addWidget(m_addressCtrl, row++, 1, 1, 2);
    grid->addWidget(new QLabel(tr("Port/Channel"), this), row, 0);
    grid->addWidget(m_portEdit, row, 1);
    grid->addWidget(m_channelNumberEdit, row++, 2);
    grid->addWidget(new QLabel(tr("Network ID"), this), row, 0);
    grid->addWidget(m_loginIdEdit, row++, 1, 1, 2);
    grid->addWidget(new QLabel(tr("Password"), this), row, 0);
    grid->addWidget(m_passwordEdit, row++, 1, 1, 2);
    grid->addWidget(m_savePasswordCheck, row++, 1, 1, 2);
    auto* audioRow = new QHBoxLayout;
    for (QRadioButton* radio : m_audioRadios)
        audioRow->addWidget(radio);
    grid->addLayout(audioRow, row++, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_deviceKindTab);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(m_okButton, &QPushButton::clicked, this, &CPropertyDlg::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &CPropertyDlg::reject);
    for (int i = 0; i < 3; ++i)
        connect(m_audioRadios[i], &QRadioButton::clicked, this, [this, i] { m_nAudioMode = i; });
    connect(m_lookupRadio, &QRadioButton::clicked, this, [this] { ShowAddressFields(false); });
    connect(m_staticIpRadio, &QRadioButton::clicked, this, [this] { ShowAddressFields(true); });
    connect(m_deviceKindTab, &QTabBar::currentChanged, this, &CPropertyDlg::OnSelchangeTab);
}

void CPropertyDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CPropertyDlg::OnInitDialog()
{
    for (const char* type : dialogtext::kChannelTypes)
        m_channelTypeCombo->addItem(QString::fromLatin1(type));
    m_nAudioMode = 0;
    m_deviceKindTab->hide();
    m_nDeviceKind = 0;

    switch (m_nMode) {
    case ModeAddDvr:
        m_nameLabel->setText(dialogtext::kDeviceNameLabels[0]);
        setWindowTitle(dialogtext::kAddDvrCaption);
        break;
    case ModeEditDvr:
        LoadEditedDvr();
        break;
    case ModeEditCamera:
        LoadEditedCamera();
        break;
    default:
        break;
    }

    if (m_nReadOnly) {
        const QList<QWidget*> inputs = { m_channelNameEdit, m_channelNumberEdit, m_portEdit, m_dvrNameEdit,
                                         m_channelTypeCombo, m_addressCtrl, m_loginIdEdit, m_passwordEdit,
                                         m_savePasswordCheck, m_staticIpRadio, m_lookupRadio,
                                         m_audioRadios[0], m_audioRadios[1], m_audioRadios[2] };
        for (QWidget* input : inputs)
            input->setEnabled(false);
    }
    UpdateData(false);
}

template <typename Source>
void CPropertyDlg::LoadConnection(const Source& source)
{
    m_nChannelType = source.channelType;
    m_nDeviceKind = source.deviceKind;
    m_strLoginId = source.loginId;
    m_strPassword = source.password;
    m_nSavePassword = source.savePassword;
    m_nAddressType = source.addressType;
    // The hidden fields of a lookup device keep its stored address and port,
    // so that OK writes them back unchanged.
    m_octets = source.octets;
    m_nPort = source.port;
    ShowAddressFields(m_nAddressType == 0);
    m_nAudioMode = source.audioMode;
}

template <typename Target>
void CPropertyDlg::StoreConnection(Target& target) const
{
    target.addressType = m_nAddressType;
    target.octets = m_octets;
    target.addressText = m_addressCtrl->AddressText();
    target.port = m_nPort;
    target.audioMode = m_nAudioMode;
    target.loginId = m_strLoginId;
    target.password = m_strPassword;
    target.savePassword = m_nSavePassword;
}

void CPropertyDlg::LoadEditedDvr()
{
    m_dvrNameEdit->setReadOnly(true);
    m_channelNameEdit->setReadOnly(true);
    m_nChannelType = -1;
    m_channelTypeCombo->setEnabled(false);

    CDVR* dvr = site::FindDvr(m_document, m_strDvrName);
    if (!dvr)
        return;
    LoadConnection(*dvr);
    m_nChannel = 0;
    if (!m_strChannelName.isEmpty())
        if (CChannel* channel = site::FindChannel(*dvr, m_strChannelName))
            m_nChannel = channel->number;
}

void CPropertyDlg::LoadEditedCamera()
{
    m_dvrNameEdit->setReadOnly(true);
    m_nameLabel->setText(dialogtext::kGroupNameLabel);
    m_channelNameEdit->setReadOnly(true);
    m_channelTypeCombo->setEnabled(false);

    CGroup* group = site::FindGroup(m_document, m_strDvrName);
    CCamera* camera = group ? site::FindCamera(*group, m_strChannelName) : nullptr;
    if (!camera)
        return;
    LoadConnection(*camera);
    m_nChannel = camera->channelNumber;
}

void CPropertyDlg::ShowAddressFields(bool show)
{
    m_addressCtrl->setVisible(show);
    m_portEdit->setVisible(show);
}

bool CPropertyDlg::UpdateData(bool save)
{
    if (!save) {
        m_channelNameEdit->setText(m_strChannelName);
        m_dvrNameEdit->setText(m_strDvrName);
        m_channelTypeCombo->setCurrentIndex(m_nChannelType);
        m_addressCtrl->SetAddress(m_octets);
        m_loginIdEdit->setText(m_strLoginId);
        m_passwordEdit->setText(m_strPassword);
        m_savePasswordCheck->setChecked(m_nSavePassword != 0);
        if (QAbstractButton* radio = m_addressTypeGroup->button(m_nAddressType))
            radio->setChecked(true);
        if (QAbstractButton* radio = m_audioGroup->button(m_nAudioMode))
            radio->setChecked(true);
        m_portEdit->setText(QString::number(m_nPort));
        m_channelNumberEdit->setText(QString::number(m_nChannel));
        return true;
    }

    m_strChannelName = m_channelNameEdit->text();
    m_strDvrName = m_dvrNameEdit->text();
    m_nChannelType = m_channelTypeCombo->currentIndex();
    m_octets = m_addressCtrl->GetAddress();
    m_strLoginId = m_loginIdEdit->text();
    m_strPassword = m_passwordEdit->text();
    m_nSavePassword = m_savePasswordCheck->isChecked() ? 1 : 0;
    m_nAddressType = m_lookupRadio->isChecked() ? 1 : 0;
    m_nAudioMode = std::max(0, m_audioGroup->checkedId());

    const int port = ReadNumber(m_portEdit);
    if (port < 1 || port > kMaxPort) {
        ShowMessage(dialogtext::kPortRange);
        return false;
    }
    m_nPort = port;
    const bool camera = m_nMode == ModeEditCamera;
    const int lowestChannel = camera ? 1 : 0;
    const int highestChannel = camera ? kMaxCameraChannelNumber : kMaxTypedChannelNumber;
    const int channel = ReadNumber(m_channelNumberEdit);
    if (channel < lowestChannel || channel > highestChannel) {
        ShowMessage(QString::asprintf(dialogtext::kChannelRange, lowestChannel, highestChannel));
        return false;
    }
    m_nChannel = channel;
    return true;
}

void CPropertyDlg::ShowMessage(const QString& text)
{
    // Under the program's own title: the dialog serves more than one viewer.
    platform::MessageBox(this, text.toStdString(), {}, platform::MB_OK | platform::MB_ICONWARNING);
}

bool CPropertyDlg::IsValidName(QWidget* parent, const QString& name)
{
    if (site::HasOnlyNameCharacters(name))
        return true;
    platform::MessageBox(parent, dialogtext::kNameRule, {}, platform::MB_OK | platform::MB_ICONWARNING);
    return false;
}

void CPropertyDlg::OnSelchangeTab()
{
    const int kind = m_deviceKindTab->currentIndex();
    if (kind < 0 || kind >= int(std::size(dialogtext::kDeviceNameLabels)))
        return;
    m_nDeviceKind = kind;
    m_nameLabel->setText(dialogtext::kDeviceNameLabels[kind]);
}

void CPropertyDlg::accept()
{
    if (!UpdateData(true))
        return;

    switch (m_nMode) {
    case ModeAddDvr: {
        // A name of blanks only is as good as none.
        if (m_strDvrName.trimmed().isEmpty()) {
            ShowMessage(dialogtext::kEnterDvrName);
            return;
        }
        if (!IsValidName(this, m_strDvrName))
            return;
        if (site::FindDvr(m_document, m_strDvrName)) {
            ShowMessage(dialogtext::kEnterAnotherName);
            return;
        }
        auto dvr = std::make_unique<CDVR>(m_strDvrName, std::max(0, m_nChannelType), m_nDeviceKind, m_strChannelName,
                                          m_nAddressType, m_octets, m_nPort, m_nChannel, m_nAudioMode, m_strLoginId,
                                          m_strPassword, m_nSavePassword);
        m_pResult = site::AddDvr(m_document, std::move(dvr));
        break;
    }
    case ModeEditDvr:
        // The device may have been deleted meanwhile; then there is nothing to edit.
        if (CDVR* dvr = site::FindDvr(m_document, m_strDvrName)) {
            StoreConnection(*dvr);
            dvr->channel = m_nChannel;
            if (!m_strChannelName.isEmpty())
                if (CChannel* channel = site::FindChannel(*dvr, m_strChannelName))
                    dvr->channel = channel->number;
        }
        break;
    case ModeEditCamera: {
        CGroup* group = site::FindGroup(m_document, m_strDvrName);
        if (CCamera* camera = group ? site::FindCamera(*group, m_strChannelName) : nullptr) {
            StoreConnection(*camera);
            camera->channelNumber = m_nChannel;
        }
        break;
    }
    default:
        break;
    }
    QDialog::accept();
}

void CPropertyDlg::reject()
{
    QDialog::reject();
    if (QWidget* owner = parentWidget())
        owner->update();
}
