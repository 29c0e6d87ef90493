#pragma once
// The modal dialog in which the operator adds a DVR to the site, edits a
// DVR's connection settings, or edits the connection settings of one camera
// of a saved group. It changes the document's lists; it writes no file, so
// the caller saves the settings files after an accepted dialog.
#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>

class CDVR;
class IPAddressEdit;
class SettingsDocument;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabBar;

class CPropertyDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode { ModeAddDvr = 0, ModeEditDvr = 1, ModeEditCamera = 2 };

    enum ControlId {
        IDD = 133,
        IDC_DVR_NAME = 1003,
        IDC_CHANNEL_TYPE = 1004,
        IDC_CHANNEL_NAME = 1005,
        IDC_STATIC_IP = 1006,
        IDC_LOOKUP = 1007,
        IDC_PORT = 1008,
        IDC_CHANNEL_NUMBER = 1009,
        IDC_AUDIO_DISABLE = 1010,
        IDC_AUDIO_SINGLE = 1011,
        IDC_AUDIO_TWO_WAY = 1012,
        IDC_LOGIN_ID = 1013,
        IDC_PASSWORD = 1014,
        IDC_ADDRESS = 1015,
        IDC_SAVE_PASSWORD = 1016,
        IDC_DEVICE_KIND = 1033,
        IDC_NAME_LABEL = 1034,
    };

    // mode: ModeAddDvr, ModeEditDvr or ModeEditCamera. Before the dialog
    // opens the caller may set the DVR name (edit DVR: the DVR; edit camera:
    // the group), the channel name (edit DVR: optional; edit camera: the
    // camera's channel name) and the read-only flag.
    CPropertyDlg(SettingsDocument& document, int mode, QWidget* parent = nullptr);

    void SetDvrName(const QString& name) { m_strDvrName = name; }
    void SetChannelName(const QString& name) { m_strChannelName = name; }
    void SetReadOnly(bool readOnly) { m_nReadOnly = readOnly ? 1 : 0; }

    int GetMode() const { return m_nMode; }
    // After an accepted add: the new DVR, already in the document's list.
    CDVR* GetResult() const { return m_pResult; }

    // Shows the name rule to the operator when the name breaks it.
    static bool IsValidName(QWidget* parent, const QString& name);

public slots:
    void accept() override; // OnOK
    void reject() override;
    void OnSelchangeTab();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void LoadEditedDvr();
    void LoadEditedCamera();
    // The connection fields a DVR and a camera both carry.
    template <typename Source>
    void LoadConnection(const Source& source);
    template <typename Target>
    void StoreConnection(Target& target) const;
    // Controls from the members, or (save) members from the controls; a
    // field that cannot be read is reported and leaves the dialog open.
    bool UpdateData(bool save);
    void ShowAddressFields(bool show);
    void ShowMessage(const QString& text);

    SettingsDocument& m_document;
    const int m_nMode;
    bool m_initialised = false;

    QString m_strChannelName;
    QString m_strDvrName;
    int m_nChannelType = 0;
    std::array<uint8_t, 4> m_octets{};
    QString m_strLoginId;
    QString m_strPassword;
    int m_nSavePassword = 1;
    int m_nAddressType = 0;
    int m_nAudioMode = 0;
    int m_nPort;
    int m_nChannel;
    int m_nDeviceKind = 0;
    int m_nReadOnly = 0;
    CDVR* m_pResult = nullptr;

    QLineEdit* m_channelNameEdit;
    QLineEdit* m_dvrNameEdit;
    QLabel* m_nameLabel;
    QComboBox* m_channelTypeCombo;
    IPAddressEdit* m_addressCtrl;
    QLineEdit* m_loginIdEdit;
    QLineEdit* m_passwordEdit;
    QCheckBox* m_savePasswordCheck;
    QRadioButton* m_staticIpRadio;
    QRadioButton* m_lookupRadio;
    QButtonGroup* m_addressTypeGroup;
    QRadioButton* m_audioRadios[3];
    QButtonGroup* m_audioGroup;
    QLineEdit* m_portEdit;
    QLineEdit* m_channelNumberEdit;
    QTabBar* m_deviceKindTab;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
};
