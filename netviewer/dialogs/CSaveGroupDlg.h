#pragma once
// The modal dialog that saves the current screen (the document's current
// group) under a group name, as a new group or over the group it was loaded
// from. The caller writes the settings files after an accepted dialog.
#include <QDialog>
#include <QString>

class SettingsDocument;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The view's side of a save: put a copy of the current group, which already
// bears the new name, into the group list and the group tree. With overwrite
// the old tree item of that name goes first (the dialog has already removed
// the old group from the list).
class ISaveGroupTarget {
public:
    virtual ~ISaveGroupTarget() = default;
    virtual void AddSavedGroup(const QString& name, bool overwrite) = 0;
};

class CSaveGroupDlg : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        IDD = 135,
        IDC_GROUP_NAME = 1011,
        IDC_OVERWRITE = 1014,
        IDC_NEW_GROUP = 1015,
    };
    enum SaveKind { SaveNewGroup = 0, SaveOverwrite = 1 };

    CSaveGroupDlg(SettingsDocument& document, ISaveGroupTarget& target, QWidget* parent = nullptr);

    // Before the dialog opens: the current group's name, empty when the
    // screen was never saved.
    void SetCurrentName(const QString& name) { m_strCurrentName = name; }

public slots:
    void accept() override; // OnOK
    void OnNewGroup();
    void OnOverwrite();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void ShowMessage(const QString& text);

    SettingsDocument& m_document;
    ISaveGroupTarget& m_target;
    bool m_initialised = false;

    QString m_strGroupName;
    QString m_strCurrentName;
    int m_nSaveKind = SaveNewGroup;

    QLineEdit* m_groupNameEdit;
    QRadioButton* m_newGroupRadio;
    QRadioButton* m_overwriteRadio;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
};
