#pragma once
// The backup viewer's view: one video control for every cell, fed either by
// one DVR (remote search and play-back) or by the recordings on the PC
// (local search and playback), the day timeline below the cells, and the
// buttons around them.
#include "DayTimeline.h"
#include "platform/Messages.h"
#include "platform/Timers.h"
#include "viewercore/dvyrdax/CDVyrdax.h"
#include "viewercore/view/CellLayout.h"
#include "viewercore/view/DiskSpaceMonitor.h"
#include "viewercore/view/RecordNames.h"

#include <QDateTime>
#include <QImage>
#include <QWidget>

#include <array>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class CBitmapSlider;
class CButtonST;
class CGroup;
class CVyrNVRDoc;
class QScrollBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace viewer {
class SiteTree;
}
namespace backupviewer {
class CBackupDlg;
class CCalendarDlg;
}

enum BackupViewIds {
    IDC_DEVICE_TREE = 1000,
    IDC_GROUP_TREE = 1001,
    IDC_SEARCH_DVR = 1002,
    IDC_ADD_DVR = 1003,
    IDC_PLACEHOLDER_1005 = 1005,
    IDC_SPLIT_4 = 1016,
    IDC_SEARCH_LOCAL = 1017,
    IDC_SPLIT_6 = 1018,
    IDC_SPLIT_9 = 1019,
    IDC_SPLIT_10 = 1020,
    IDC_SPLIT_16 = 1021,
    IDC_SPLIT_36 = 1022,
    IDC_SPLIT_64 = 1023,
    IDC_FULL_SCREEN = 1024,
    IDC_NEXT_SPLIT = 1025,
    IDC_PLACEHOLDER_1030 = 1030,
    IDC_LOCAL_RECORD = 1031,
    IDC_CAPTURE = 1032,
    IDC_SPEAKER_VOLUME = 1062,
    IDC_GO_NETWORK = 1070,
    IDC_GO_EVENT = 1071,
    IDC_REWIND = 1080,
    IDC_PLAY = 1081,
    IDC_STOP = 1082,
    IDC_PAUSE = 1083,
    IDC_FAST_FORWARD = 1084,
    IDC_SOUND = 1085,
    IDC_TIMELINE = 1087,
    IDC_TIMELINE_SCROLL = 1094,
    IDC_BACKUP = 1095,
    IDC_PLACEHOLDER_1102 = 1102,
    IDC_PLACEHOLDER_1103 = 1103,
    ID_TREE_PROPERTIES = 32771,
    ID_TREE_DELETE = 32772,
    ID_CELL_DISCONNECT = 32778,
    ID_CELL_LOCAL_RECORD = 32784,
    ID_CELL_CAPTURE = 32785,
    ID_CELL_PROPERTIES = 32786,
    ID_CELL_DVR_SEARCH = 32789,
    ID_CELL_LOCAL_SEARCH = 32790,
};

// Posted by the disk monitor when the recording drive is short of space.
inline constexpr uint32_t WM_BACKUP_DISK_LOW = platform::WM_USER + 0x300;

class CVyrNVRView : public QWidget, public platform::MessageReceiver {
public:
    static constexpr int kCells = 64;
    static constexpr long kStatusLive = 0x01; // a channel's status word while its session is wanted
    static constexpr int kTimerRecordBase = 1000;
    static constexpr int kTimerCloseCaller = 9999;
    static constexpr int kCloseCallerDelayMs = 500;
    enum SourceMode { DvrMode = 0, LocalMode = 1 };
    enum BottomMode { BottomVideo = 0, BottomTimeline = 5 };

    struct Cell {
        int16_t control = -1; // -1 empty
        QString deviceName;
        int16_t channel = -1;
    };

    CVyrNVRView(CVyrNVRDoc* document, QWidget* parent = nullptr);
    ~CVyrNVRView() override;

    void OnInitialUpdate();

    std::function<void(bool on)> onFullScreen;
    std::function<void(int button)> onHandOver;
    std::function<void()> onCloseCaller;
    // Runs a modal dialog; tests replace it to answer without blocking.
    std::function<int(QDialog& dialog)> runDialog;
    // The local time the view names files and opens searches at.
    std::function<QDateTime()> clock;

    void ShowHandOverButtons(bool visible);
    void OnCommand(int id);
    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

    // ---- cells and layout ---------------------------------------------------
    void SetSplit(int split);
    void LayoutCells();
    void NextSplit();
    void ToggleSingleCell();
    void ToggleFullScreen();
    void SelectCell(int cell);
    int HitTestCell(const QPoint& point) const;
    int Split() const { return split_; }
    int FirstCell() const { return firstCell_; }
    int CurrentCell() const { return currentCell_; }
    bool FullScreen() const { return fullScreen_; }
    const Cell& CellAt(int cell) const { return cells_[cell]; }
    CDVyrdax* Control() const { return control_.get(); }
    QTreeWidget* DeviceTree() const;
    void FillDeviceTree();
    // The drop of a DVR from the tree on the video area.
    void DropItem(QTreeWidgetItem* item, const QPoint& point);

    // ---- searches and playback ----------------------------------------------
    SourceMode Mode() const { return mode_; }
    void OnSearchDvr();
    void OnSearchLocal();
    void OnPlaybackButton(int id);
    // Local mode: the playback of every channel from the slot that holds
    // `time`, as a Time Search gives it.
    static int SlotOfTime(int hour, int minute) { return hour * 2 + (minute > 30 ? 1 : 0); }
    std::time_t ChosenDay() const { return chosenDay_; }
    // Sets the chosen day to local midnight; false (and a message) when the
    // date is outside what the control can be given.
    bool SetChosenDay(int year, int month, int day);
    // DVR mode: asks for a month's table; false when nothing could be asked.
    bool AskDvrMonth(int year, int month);

    // ---- timeline -------------------------------------------------------------
    void ShowBottom(BottomMode mode);
    BottomMode Bottom() const { return bottom_; }
    bool HasDayData() const { return hasDayData_; }
    const backupviewer::DayBlock& Day() const { return day_; }
    void SetDayBlock(const backupviewer::DayBlock& block, int rowCount);
    int RowCount() const { return rowCount_; }
    int SelectedSlot() const { return selectedSlot_; }
    // Set when the bottom area returns to the video: the next timeline drawn
    // in local mode backs its scroll bar with the fresh-backing bitmap.
    bool ScrollBitmapRepaint() const { return scrollBitmapRepaint_; }
    int ScrollRow() const { return scrollRow_; }
    void SetScrollRow(int row);
    backupviewer::TimelineGeometry Timeline() const;
    // A click in the timeline area; true when it hit a slot.
    bool OnTimelineClick(const QPoint& point);

    // ---- recording, snapshots, sound ------------------------------------------
    void OnLocalRecord();
    void OnCapture();
    void OnSound();
    void OnSliderMoved(int position);
    bool SoundMuted() const { return soundMuted_; }
    void StopCell(int cell);
    void StopAllRecording();
    viewer::RecordNames MakeSaveName(int type, int cell);
    viewer::DiskSpaceMonitor& DiskMonitor() { return diskMonitor_; }
    int TimerPeriod(unsigned id) const;
    void OnTimer(unsigned id);
    CBitmapSlider* Slider() const { return slider_; }

    // ---- close --------------------------------------------------------------
    // Stops playback (local mode) or every recording and the DVR link.
    void StopForClose();
    // Stops again and counts the channels still connected.
    int BusyChannels();

    CButtonST* Button(int id) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // Panel metrics outside full screen, in pixels.
    static constexpr int kLeftMargin = 185;
    static constexpr int kRightMargin = 16;
    static constexpr int kTopMargin = 50;
    static constexpr int kBottomMargin = 55;
    static constexpr int kLeftBottomPanel = 103;
    static constexpr int kLeftColumnBottom = 54;
    static constexpr int kControlId = 500;
    // The bottom bar's buttons, hidden while the timeline shows.
    static constexpr int kSplitButtons[] = {IDC_SPLIT_4, IDC_SPLIT_6, IDC_SPLIT_9, IDC_SPLIT_10, IDC_SPLIT_16,
                                            IDC_SPLIT_36, IDC_SPLIT_64, IDC_FULL_SCREEN, IDC_NEXT_SPLIT};
    static constexpr int kBottomBarButtons[] = {IDC_LOCAL_RECORD, IDC_CAPTURE, IDC_BACKUP};
    // The split a split button sets; 0 for any other command.
    static int SplitOfButton(int id);

    void CreateWidgets();
    void PlaceWidgets();
    void LoadSkin();
    void PaintSkin(QPainter& p);
    void PaintScrollArea(QPainter& p);
    void BindCamera(int cell, const class CCamera& camera);
    void ClearCameras();
    bool ControlReady();
    void LeaveLocalMode();
    void EnterLocalMode();
    void StartDvrPlayback(std::time_t t, int cell);
    // The control's remote session: asked for, ended by the view, or ended
    // by the control. Its end is told with the same notice as the end of a
    // backup, and is told apart by what the control shows afterwards.
    void AskDvr(std::time_t t, int timeList);
    void DisconnectDvr();
    bool RemoteSessionHasEnded();
    void StartLocalPlayback(int slot, std::time_t t);
    void OnBackup();
    void OnDiskSpaceLow();
    void ShowTreeMenu(QTreeWidget* tree, const QPoint& globalPos);
    void OpenDvrProperties(const QString& dvrName, const QString& channelName);
    void ShowCellProperties();
    void PublishDiskSettings();
    void SetViewTimer(unsigned id, int ms);
    void KillViewTimer(unsigned id);
    int Exec(QDialog& dialog);

    CVyrNVRDoc* document_;
    std::unique_ptr<CDVyrdax> control_;
    std::array<Cell, kCells> cells_;
    SourceMode mode_ = DvrMode;
    std::time_t chosenDay_ = 0;

    BottomMode bottom_ = BottomVideo;
    bool hasDayData_ = false;
    backupviewer::DayBlock day_;
    int rowCount_ = 17;
    int selectedSlot_ = -1;
    int scrollRow_ = 0;
    int cellAtModeChange_ = 0;
    bool scrollBitmapRepaint_ = true;

    int split_ = 16;
    int firstCell_ = 0;
    int currentCell_ = 0;
    int savedSplit_ = 16;
    int savedFirstCell_ = 0;
    viewer::PanelMargins margins_;
    bool fullScreen_ = false;
    bool initialised_ = false;
    bool soundMuted_ = false;
    bool treeMenuShown_ = false;

    backupviewer::CCalendarDlg* calendar_ = nullptr;
    backupviewer::CBackupDlg* backupDialog_ = nullptr;
    QString lastBackupFolder_;
    bool monthRequestInFlight_ = false;
    bool remoteSessionAsked_ = false;
    std::optional<std::time_t> monthWaiting_;

    viewer::SiteTree* deviceTree_ = nullptr;
    viewer::SiteTree* groupTree_ = nullptr;
    std::map<int, CButtonST*> buttons_;
    CBitmapSlider* slider_ = nullptr;
    QScrollBar* scroll_ = nullptr;

    std::mutex fileNameLock_;
    std::mutex recordStartLock_;
    std::mutex stopLock_;
    platform::TimerSet timers_;
    std::map<unsigned, int> timerPeriods_;
    viewer::DiskSpaceMonitor diskMonitor_;
    bool diskBoxShown_ = false;
    int closeCallerTimer_ = 0;

    struct Skin {
        QImage leftTop, leftLeft, leftRight, leftBottom, none, top, topStretch, bottomRight, timelineLeft,
            timelineStretch, timelineRight, scrollArea, scrollBack;
    } skin_;
};
