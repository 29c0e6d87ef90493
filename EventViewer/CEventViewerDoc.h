#pragma once
// The event viewer's document: the site list, the database directories and
// the monitor's settings, kept in the settings files of the program's
// directory.
#include "viewercore/model/SettingsDocument.h"

class QWidget;

class CVyrNVRDoc {
public:
    explicit CVyrNVRDoc(const QString& directory = QString());

    // Loads "device.vyr", "config_ev.vyr" and "config_win.vyr" (missing ones
    // leave the defaults).
    void OnNewDocument();
    // Writes the three files; a failure is reported to the operator once.
    bool SaveSettingsFiles(QWidget* parent = nullptr);

    SettingsDocument& Data() { return data_; }

private:
    SettingsDocument data_;
};
