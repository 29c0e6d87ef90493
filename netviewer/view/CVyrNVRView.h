#pragma once
// The network viewer's view: up to 64 video cells filled by drag and drop
// from the DVR and group trees, the skin around them, and the buttons.
#include "viewercore/view/CellLayout.h"
#include "viewercore/view/DiskSpaceMonitor.h"
#include "viewercore/view/RecordNames.h"
#include "netviewer/dialogs/CSaveGroupDlg.h"
#include "platform/Messages.h"
#include "platform/Timers.h"
#include "viewercore/dvyrdax/CDVyrdax.h"
#include "viewercore/widgets/CButtonST.h"

#include <QDateTime>

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class CBitmapSlider;
class CConfigDlg;
class CCamera;
class CDVR;
class CGroup;
class CVyrNVRDoc;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace viewer {
class SiteTree;
}

// Control and command identifiers of the view.
enum NetViewIds {
    IDC_DEVICE_TREE = 1000,
    IDC_GROUP_TREE = 1001,
    IDC_CONNECT = 1002,
    IDC_ADD_DVR = 1003,
    IDC_SAVE_GROUP = 1005,
    IDC_DEVICE_TAB = 1009,
    IDC_GROUP_TAB = 1010,
    IDC_SPLIT_4 = 1016,
    IDC_LOCAL_SETUP = 1017,
    IDC_SPLIT_6 = 1018,
    IDC_SPLIT_9 = 1019,
    IDC_SPLIT_10 = 1020,
    IDC_SPLIT_16 = 1021,
    IDC_SPLIT_36 = 1022,
    IDC_SPLIT_64 = 1023,
    IDC_FULL_SCREEN = 1024,
    IDC_NEXT_SPLIT = 1025,
    IDC_DVR_RECORD = 1030,
    IDC_LOCAL_RECORD = 1031,
    IDC_CAPTURE = 1032,
    IDC_PTZ_PANEL = 1042,
    IDC_PRESET_PANEL = 1043,
    IDC_AUDIO_PANEL = 1044,
    IDC_PTZ_UP = 1045,
    IDC_PTZ_UP_RIGHT = 1046,
    IDC_PTZ_RIGHT = 1047,
    IDC_PTZ_DOWN_RIGHT = 1048,
    IDC_PTZ_DOWN = 1049,
    IDC_PTZ_DOWN_LEFT = 1050,
    IDC_PTZ_LEFT = 1051,
    IDC_PTZ_UP_LEFT = 1052,
    IDC_ZOOM_OUT = 1053,
    IDC_FOCUS_FAR = 1054,
    IDC_ZOOM_IN = 1055,
    IDC_FOCUS_NEAR = 1056,
    IDC_LISTEN = 1061,
    IDC_PT_SPEED = 1062,
    IDC_PRESET_GO = 1063,
    IDC_PRESET_NUMBER = 1064,
    IDC_PRESET_SPIN = 1065,
    IDC_PRESET_SET = 1066,
    IDC_PRESET_CLEAR = 1067,
    IDC_MIC_VOLUME = 1068,
    IDC_SPEAKER_VOLUME = 1069,
    IDC_GO_BACKUP = 1070,
    IDC_GO_EVENT = 1071,
    IDC_DISCONNECT = 1075,
    IDC_DEVICE_SETUP = 1076,
    IDC_ADD_IP_CAMERA = 1077,
    IDC_ADD_VIDEO_SERVER = 1078,
    ID_TREE_PROPERTIES = 32771,
    ID_TREE_DELETE = 32772,
    ID_CELL_CONNECT = 32773,
    ID_CELL_DISCONNECT = 32774,
    ID_CELL_CLEAR = 32777,
    ID_CELL_CLEAR_ALL = 32778,
    ID_CELL_CONNECT_ALL = 32779,
    ID_CELL_DISCONNECT_ALL = 32780,
    ID_GROUP_REMOVE = 32781,
    ID_GROUP_PROPERTIES = 32782,
    ID_CELL_DVR_RECORD = 32783,
    ID_CELL_LOCAL_RECORD = 32784,
    ID_CELL_CAPTURE = 32785,
    ID_CELL_PROPERTIES = 32786,
};

inline constexpr const char* kEmptyCellText = "Drag & Drop here";
inline constexpr const char* kDropDvrFirst = "Please drag & drop DVR to the video window first.";
inline constexpr const char* kNotAvailable = "Not Available";
inline constexpr const char* kNoAuthority = "You have no authority";
inline constexpr const char* kConnectFirst = "Please connect to the server first.";
inline constexpr const char* kNoPtzRight = "You don't have authorization for PTZ Control";
inline constexpr const char* kNoPresetRight = "You don't have authorization for PTZ Preset";
inline constexpr const char* kNoSetupRight = "You don't have authorization for DVR Configuration";
inline constexpr const char* kCaptureCompleted = "Capture Completed";
inline constexpr const char* kCaptureFailed = "Capture Failed!";
inline constexpr const char* kDiskSpaceLow = "Disk space is not enough.";
inline constexpr const char* kPresetRange = "Please enter an integer between 1 and 10.";

// Channel status words of the control, as GetStatus gives them and SetStatus
// takes them.
enum ChannelStatus : long {
    kStatusLive = 0x1,
    kStatusRecordByHand = 0x4,
    kStatusRecordSchedule = 0x8,
    kStatusRecordAlarm = 0x10,
    kStatusRecording = 0x1C,
    kStatusDvrRecording = 0x200,
};

// Timers of a cell: the id is the base plus the cell.
enum CellTimerBase : unsigned {
    kTimerForcedRecord = 1000,
    kTimerMotionRecord = 2000,
    kTimerSensorRecord = 3000,
    kTimerSchedule = 5000,
};

// DVR commands the view sends with CmdToDVR.
enum DvrCommand : long { kCmdDvrRecordStart = 16, kCmdDvrRecordStop = 17, kCmdSetupRequest = 18 };

// Heights of the lower-left panel by mode: none, PTZ, presets, audio.
inline constexpr int kPanelHeights[4] = {92, 207, 163, 163};

// Posted by the disk monitor when the recording drive is short of space.
inline constexpr uint32_t WM_DISK_SPACE_LOW = platform::WM_USER + 0x300;

class CVyrNVRView : public QWidget,
                    public platform::MessageReceiver,
                    public ISaveGroupTarget,
                    public CButtonST::PtzHook {
public:
    static constexpr int kCells = 64;
    void ShowHandOverButtons(bool visible) { SetHandOverButtonsVisible(visible); }
    static constexpr int kConnectStepMs = 50;

    struct Cell {
        int16_t slot = -1;       // control slot, -1 when empty
        QString deviceName;
        int16_t channel = -1;    // channel index within the control
        bool emptyPainted = false;
        QRect rect;
    };

    CVyrNVRView(CVyrNVRDoc* document, QWidget* parent = nullptr);
    ~CVyrNVRView() override;

    // Start-up once the document is loaded.
    void OnInitialUpdate();
    bool Initialised() const { return initialised_; }

    // Hooks the frame provides.
    std::function<void(bool on)> onFullScreen;
    std::function<void(int button)> onHandOver; // IDC_GO_BACKUP or IDC_GO_EVENT
    std::function<void()> onCloseCaller;        // 500 ms after start-up

    // Layout.
    void SetSplitMode(int splitMode);
    void LayoutCells();
    void ToggleSingleCell();
    void NextPage();
    void ToggleFullScreen();
    bool FullScreen() const { return fullScreen_; }
    int SplitMode() const { return splitMode_; }
    int FirstCell() const { return firstCell_; }
    int SelectedCell() const { return selectedCell_; }
    void SelectCell(int cell);
    QRect FieldCellRect(int cell) const;
    int HitTestCell(const QPoint& point) const;
    viewer::PanelMargins Margins() const { return margins_; }

    // Trees and drops.
    void FillDeviceTree();
    void FillGroupTree();
    void InsertDvrIntoTree(const CDVR& dvr);
    void InsertGroupIntoTree(const CGroup& group);
    void RemoveGroupTreeItem(const QString& name);
    void ShowDeviceTree(bool device);
    QTreeWidget* DeviceTree() const;
    QTreeWidget* GroupTree() const;
    // The drop of a tree item at a point in view coordinates.
    void DropItem(QTreeWidgetItem* item, const QPoint& point);
    void AddCameraToGroup(std::unique_ptr<CCamera> camera);
    void LoadGroup(const CGroup& group);
    void AddSavedGroup(const QString& name, bool overwrite) override;
    void MarkSelectedCell(int highlighted);

    // Cells.
    const Cell& CellAt(int cell) const { return cells_[cell]; }
    CDVyrdax* ControlAt(int slot) const { return slot >= 0 && slot < kCells ? controls_[slot].get() : nullptr; }
    int ControlsCreated() const;
    void ClearCell(int cell);
    void ClearAllCells();
    void ConnectAll();           // the shown page, one cell every 50 ms
    bool Connecting() const { return !pendingConnects_.empty(); }
    void DisconnectPage();
    // Stops and disconnects every bound cell, shown or not.
    void StopAllChannels();
    // Disconnects every cell still connected; the number that were.
    int BusyChannels();
    void ConnectSelected();
    void DisconnectSelected();

    // Commands by identifier, as the buttons and menus send them.
    void OnCommand(int id);

    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

    // ---- recording on the PC and on the DVR --------------------------------
    // mode 0 records `cell` on the PC as `type`; mode 1 switches the DVR's own
    // recording of the cell's channel.
    void StartChannelRecording(int mode, int type, int cell);
    // Ends the cell's recording and its timers.
    void StopChannel(int cell);
    void StopAllRecording();
    // The control ended a cell's recording (WM_VIDEO_RECORD_STOPPED).
    void OnRecordStopped(int cell);
    viewer::RecordNames MakeRecordFileName(int type, int cell);
    bool IsScheduledNow(int cell) const;
    void LocalRecordSelected();
    void DvrRecordSelected();
    void CaptureSelected();
    // A timer of the view has expired (1000, 2000, 3000 or 5000 + cell).
    void OnTimer(unsigned id);
    // Period of a running timer in milliseconds; 0 when it does not run.
    int TimerPeriod(unsigned id) const;
    // The local time the view names files and tests the schedule by.
    void SetClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }
    QDateTime Now() const { return clock_(); }
    viewer::DiskSpaceMonitor& DiskMonitor() { return diskMonitor_; }
    // Gives the disk monitor the current group's threshold and directory.
    void PublishDiskSettings();

    // ---- PTZ, presets and sound --------------------------------------------
    int PanelMode() const { return panelMode_; }
    void OnPanelButton(int id);
    void OnPtzPress(int id);
    void OnPtzRelease(int id);
    // A step of the preset spin; false when it would leave 1..10.
    bool OnPresetSpin(int step);
    int PresetNumber() const { return presetNumber_; }
    void OnPresetCommand(int id);
    void OnListen();
    bool SoundMuted() const { return soundMuted_; }
    CBitmapSlider* Slider(int id) const;
    QLineEdit* PresetEdit() const { return presetEdit_; }
    void OnDeviceSetup();
    void OnLocalSetup();
    // The DVR Configuration dialog the view keeps; null until first opened.
    CConfigDlg* ConfigDialog() const { return configDlg_.get(); }
    void ShowCellProperties();

    void OnPtzButtonDown(CButtonST* button) override;
    void OnPtzButtonUp(CButtonST* button) override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    
    void CreateButtons();
    void PlaceButtons();
    void LoadSkin();
    void RestoreCurrentGroup();
    CDVyrdax* EnsureControl(int slot, int controlId);
    int FindSlotOfDevice(const QString& deviceName) const;
    int LowestFreeSlot() const;
    // The control slot that will show a device's channel in `cell`: the
    // device's own control (the channel moving there if it is shown
    // elsewhere), else a new control in the lowest free slot; -1 when none.
    int SlotForChannel(const QString& deviceName, int channelNumber, int cell, int controlId);
    void BindGroupCamera(const CCamera& camera);
    void BindCell(int cell, int slot, const CCamera& camera, const QString& address);
    void BindChannel(int cell, const CDVR& dvr, int channelIndex, bool wholeDvr);
    void MoveCellBinding(int from, int to);
    void UnbindCell(int cell);
    void RemoveCameraOfCell(int cell);
    void ConnectNextPending();
    void ShowTreeMenu(QTreeWidget* tree, const QPoint& pos);
    void ShowCellMenu(const QPoint& globalPos);
public:
    // The dialogs; each saves the settings files when it is accepted.
    void OpenDvrProperties(const QString& dvrName, const QString& channelName);
    void OpenCameraProperties(const QString& groupName, const QString& channelName);
    void OnSaveGroup();
    void OnAddDvr();

private:
    QIcon TreeIcon(bool groupTree, int image) const;
    void SetHandOverButtonsVisible(bool visible);
    bool CellUsable(int cell) const;
    // The selected cell's control and channel when it is bound, else null.
    CDVyrdax* SelectedControl(short* channel) const;
    // The selected cell is bound and ready; else says to drop a DVR first.
    bool SelectedCellReady();
    void StartScheduleRecording(int cell);
    void OnAlarm(int cell, int type);
    void RecordOnAlarm(int cell, int type, const CGroup& group);
    void OnDiskSpaceLow();
    void KillCellTimers(int cell);
    void SetViewTimer(unsigned id, int milliseconds);
    void KillViewTimer(unsigned id);
    // The user-right test before a panel opens or Device Setup starts; shows
    // the refusal and returns false.
    bool SelectedCellMayControl(const char* refusal, bool needReady);
    void CreatePanelControls();
    void PlacePanelControls();
    void OnSliderMoved(int id, int position);

    CVyrNVRDoc* document_;
    std::array<Cell, kCells> cells_;
    std::array<std::unique_ptr<CDVyrdax>, kCells> controls_;
    std::array<bool, kCells> inUse_{};

    int splitMode_ = 16;
    int firstCell_ = 0;
    int selectedCell_ = 0;
    int savedSplitMode_ = 16;
    int savedFirstCell_ = 0;
    bool fullScreen_ = false;
    bool initialised_ = false;
    bool treeMenuShown_ = false;
    bool singleJustLeft_ = false;
    viewer::PanelMargins margins_;
    int panelMode_ = 0; // 0 none, 1 PTZ, 2 presets, 3 audio
    std::vector<int> pendingConnects_;
    QTimer connectTimer_;
    int closeCallerTimer_ = 0;

    viewer::SiteTree* deviceTree_ = nullptr;
    viewer::SiteTree* groupTree_ = nullptr;
    bool deviceTreeShown_ = true;
    std::map<int, CButtonST*> buttons_;
    std::map<int, CBitmapSlider*> sliders_;
    QLineEdit* presetEdit_ = nullptr;
    QWidget* presetSpin_ = nullptr;
    int presetNumber_ = 1;
    bool soundMuted_ = false;

    std::unique_ptr<CConfigDlg> configDlg_;
    CConfigDlg& EnsureConfigDialog();
    void ApplyLocalSettings(const CGroup& copy, const QString& recordingDirectory, const QString& captureDirectory);
    void OnSetupData(int dvrType, int cell);

    platform::TimerSet timers_;
    std::map<unsigned, int> timerPeriods_;
    std::function<QDateTime()> clock_;
    viewer::DiskSpaceMonitor diskMonitor_;
    bool diskBoxShown_ = false;
    // The cell whose recording the view is stopping itself, so its own stop
    // notice is not taken for a failure.
    int stoppingCell_ = -1;
    // When the control last gave a cell's recording up; alarms and the
    // schedule start it again only after a pause, so a directory that cannot
    // be written does not raise an error box with every alarm frame.
    std::array<QDateTime, kCells> recordFailedAt_;

    struct Skin {
        QImage leftTop, leftTopGroup, leftLeft, leftRight, leftBottom, ptz, preset, none, audio, topStretch,
            bottomRight;
    } skin_;
};
