#pragma once
// The DVR Configuration dialog. DVR mode edits a copy of one DVR's setup
// record page by page and sends it back on OK; Local mode edits the current
// group's recording settings and the viewer's directories.
#include "CComboListCtrl.h"
#include "SchedulePainter.h"
#include "SetupFields.h"
#include "viewercore/model/CGroup.h"

#include <QDialog>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class CDVyrdax;
class CButtonST;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;
class QGroupBox;

// Asked before a changed recording directory stops all recording.
inline constexpr const char* kChangedRecordingFolder =
    "You have changed the folder now being in recording. \nThe current recording will stop. ";
// OK could not hand the edited setup to the DVR; the dialog stays open.
inline constexpr const char* kSetupNotSent =
    "The setup was not sent: the DVR is not connected.\nYour changes are kept; press OK again once it is "
    "connected, or Cancel to drop them.";
// A directory text that is empty or not a full path.
inline constexpr const char* kRecordingDirectoryNotFull =
    "Please enter the full path of the recording directory, beginning with \"/\".";
inline constexpr const char* kCaptureDirectoryNotFull =
    "Please enter the full path of the capture directory, beginning with \"/\".";
// The hint under a schedule that holds values this program does not know.
inline constexpr const char* kUnknownScheduleValues =
    "Grey cells hold a value this program does not know: it is kept until painted over, and "
    "in the every-day row it locks the hour.";

class CConfigDlg : public QDialog {
public:
    enum Mode { ModeLocal = 0, ModeDvr = 1 };
    enum : int {
        IDD = 155,
        IDC_DVR_TREE = 1000,
        IDC_LOCAL_TREE = 1001,
        IDC_RECORD_DIR = 1011,
        IDC_SCHEDULE_CHANNEL = 1018,
        IDC_GRID = 1020,
        IDC_APPLY_ALL = 1023,
        IDC_BRUSH_ALWAYS = 1024,
        IDC_BRUSH_MOTION = 1025,
        IDC_BRUSH_SENSOR = 1026,
        IDC_BRUSH_BOTH = 1027,
        IDC_BRUSH_CLEAR = 1028,
        IDC_TAB = 1033,
        IDC_BROWSE_RECORD = 1036,
        IDC_CAPTURE_DIR = 1037,
        IDC_BROWSE_CAPTURE = 1038,
        IDC_RECORD_DIR_LABEL = 1039,
        IDC_CAPTURE_DIR_LABEL = 1040,
        IDC_HINT = 1074,
    };

    explicit CConfigDlg(QWidget* parent = nullptr);
    ~CConfigDlg() override;

    // What the opener fills before showing the dialog.
    struct Opening {
        Mode mode = ModeDvr;
        int dvrType = 5;
        CDVyrdax* control = nullptr; // the cell's control (DVR mode)
        short channel = 0;
        int cell = 0;
        const CGroup* group = nullptr; // copied without cameras
        QString recordingDirectory;
        QString captureDirectory;
        QString lookupHost;
    };
    void Begin(const Opening& opening);
    int Cell() const { return cell_; }
    Mode CurrentMode() const { return mode_; }

    // The setup record arrived: `dvrType` from the notice, the control's
    // table. A table of neither layout's size is not taken, nor a second
    // record while the dialog is open.
    void OnSetupData(int dvrType, const void* data, std::size_t size);
    bool HasRecord() const { return !record_.empty(); }
    const std::vector<uint8_t>& Record() const { return record_; }

    // Page selection by names, as the trees select them.
    bool SelectPage(const QString& parent, const QString& page);
    QString PageName() const { return pageName_; }
    CComboListCtrl* Grid() const { return grid_; }
    QLabel* Hint() const { return hint_; }
    SchedulePainter& Painter() { return painter_; }
    std::vector<setup::ChannelSchedule>& DvrSchedule() { return dvrSchedule_; }
    std::vector<setup::ChannelSchedule>& LocalSchedule() { return localSchedule_; }

    // Local mode's result, read by the view on OK.
    const CGroup* GroupCopy() const { return groupCopy_.get(); }
    QString RecordingDirectory() const { return recordingDirectory_; }
    QString CaptureDirectory() const { return captureDirectory_; }

    // OK in Local mode hands the copy and directories over here.
    std::function<void(const CGroup& copy, const QString& recordingDirectory, const QString& captureDirectory)>
        applyLocal;
    // Saves the viewer's settings files after OK.
    std::function<void()> saveSettings;

    void accept() override;
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void BuildDvrTree();
    void BuildLocalTree();
    void OnDvrTreeSelection(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void OnLocalTreeSelection(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void ShowPage();
    bool StorePage();
    setup::PageTexts GridTexts() const;
    QStringList Choices(int row, int column) const;
    void OnEndEdit(int row, int column, const QString& text);
    void UpdateHints();
    void ShowSchedule(bool dvr);
    void HideSchedule();
    void ChooseBrush(int id);
    void ApplyToAll();
    void ShowDirectoryControls(bool visible);
    void ShowLocalPage(const QString& parent, const QString& page);
    void CollectLocalPage();
    // The directory texts are full paths; otherwise says so on the
    // Directory page and returns false.
    bool DirectoriesValid();
    void UpdateScheduleHint();
    void ChooseFolder(bool recording);
    setup::SetupContext Context() const;

    Mode mode_ = ModeDvr;
    bool initialised_ = false;
    bool pageShown_ = false;
    int dvrType_ = 5;
    CDVyrdax* control_ = nullptr;
    short channel_ = 0;
    int cell_ = 0;
    QString lookupHost_;
    std::unique_ptr<CGroup> groupCopy_;
    std::vector<uint8_t> record_;
    setup::Layout layout_ = setup::Layout::Small;
    std::optional<setup::Page> page_;
    setup::PageTexts shownTexts_;
    // The Local page's texts as shown: only cells that differ are collected.
    setup::PageTexts localShownTexts_;
    QString parentName_;
    QString pageName_;
    QString recordingDirectory_;
    QString captureDirectory_;
    std::vector<setup::ChannelSchedule> dvrSchedule_;
    std::vector<setup::ChannelSchedule> localSchedule_;
    SchedulePainter painter_;
    int scheduleMode_ = 0; // 0 none, 1 DVR page, 2 Local page
    QImage scheduleBitmap_;

    QTabBar* tab_ = nullptr;
    QTreeWidget* dvrTree_ = nullptr;
    QTreeWidget* localTree_ = nullptr;
    QGroupBox* frame_ = nullptr;
    CComboListCtrl* grid_ = nullptr;
    QLabel* hint_ = nullptr;
    std::map<int, CButtonST*> brushes_;
    QComboBox* channelCombo_ = nullptr;
    QPushButton* applyAll_ = nullptr;
    QLineEdit* recordDirEdit_ = nullptr;
    QLineEdit* captureDirEdit_ = nullptr;
    QLabel* recordDirLabel_ = nullptr;
    QLabel* captureDirLabel_ = nullptr;
    QPushButton* browseRecord_ = nullptr;
    QPushButton* browseCapture_ = nullptr;
};
