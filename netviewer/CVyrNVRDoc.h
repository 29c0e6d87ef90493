#pragma once
// The network viewer's document: the site model and directories, kept in the
// settings files of the program's directory.
#include "viewercore/model/SettingsDocument.h"

class QWidget;

class CVyrNVRDoc {
public:
    explicit CVyrNVRDoc(const QString& directory = QString());

    // Loads the settings files (missing ones leave the defaults).
    void OnNewDocument();
    // Writes every settings file; a file that cannot be written is reported
    // to the operator once, not at every save.
    bool SaveAll(QWidget* parent = nullptr);

    SettingsDocument& Data() { return data_; }
    CGroup* CurrentGroup() { return data_.currentGroup.get(); }

private:
    SettingsDocument data_;
};
