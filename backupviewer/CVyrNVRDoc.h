#pragma once
// The backup viewer's document: the DVR list, its one settings group and the
// directories, kept in "device.vyr", "config_bv.vyr" and "config_win.vyr",
// with the network viewer's hand-over read from "config_nv2bv.vyr".
#include "viewercore/model/SettingsDocument.h"

class QWidget;

class CVyrNVRDoc {
public:
    explicit CVyrNVRDoc(const QString& directory = QString());

    void OnNewDocument();
    // Writes the three files; a failure is reported to the operator once.
    bool SaveAll(QWidget* parent = nullptr);

    SettingsDocument& Data() { return data_; }
    // The settings group, made with this viewer's defaults when none was read.
    CGroup& SettingsGroup();

private:
    SettingsDocument data_;
};
