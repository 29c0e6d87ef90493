#pragma once
// The network viewer's view: up to 64 video cells filled by drag and drop
// from the DVR and group trees, the skin around them, and the buttons.
#include "CellLayout.h"
#include "netviewer/dialogs/CSaveGroupDlg.h"
#include "platform/Messages.h"
#include "viewercore/dvyrdax/CDVyrdax.h"

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

class CButtonST;
class CCamera;
class CDVR;
class CGroup;
class CVyrNVRDoc;
class QTreeWidget;
class QTreeWidgetItem;

namespace netviewer {
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

class CVyrNVRView : public QWidget, public platform::MessageReceiver, public ISaveGroupTarget {
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
    netviewer::PanelMargins Margins() const { return margins_; }

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
    void StopAllChannels();
    // Disconnects every cell still connected; the number that were.
    int BusyChannels();
    void ConnectSelected();
    void DisconnectSelected();

    // Commands by identifier, as the buttons and menus send them.
    void OnCommand(int id);

    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

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
    friend class netviewer::SiteTree;
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
    netviewer::PanelMargins margins_;
    int panelMode_ = 0; // 0 none, 1 PTZ, 2 presets, 3 audio
    std::vector<int> pendingConnects_;
    QTimer connectTimer_;
    int closeCallerTimer_ = 0;

    netviewer::SiteTree* deviceTree_ = nullptr;
    netviewer::SiteTree* groupTree_ = nullptr;
    bool deviceTreeShown_ = true;
    std::map<int, CButtonST*> buttons_;

    struct Skin {
        QImage leftTop, leftTopGroup, leftLeft, leftRight, leftBottom, ptz, preset, none, audio, topStretch,
            bottomRight;
    } skin_;
};
