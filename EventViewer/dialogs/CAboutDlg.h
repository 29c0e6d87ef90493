#pragma once
// The about box (dialog 100): the program's name and version and a date line.
#include <QDialog>

class CAboutDlg : public QDialog {
public:
    static constexpr int kDialogId = 100;
    static constexpr const char* kTitle = "About Event Viewer";
    static constexpr const char* kVersionText = "Event Viewer V4.24";
    // The date of this version, the one the settings files are stamped with.
    static constexpr const char* kDateText = "2008/05/01";

    explicit CAboutDlg(QWidget* parent);
};
