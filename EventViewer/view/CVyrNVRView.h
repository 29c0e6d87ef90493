#pragma once
// The event viewer's view: the skin, the hand-over and setup buttons, the
// monitor and search pages, and the 16 hidden control instances the monitor
// polls through, whose notices it passes on to the monitor.
#include "EventViewer/monitor/PollingInstances.h"
#include "platform/Messages.h"
#include "platform/Timers.h"

#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>

class CButtonST;
class CDVyrdax;
class CEventDlg;
class CEventSearchDlg;
class CVyrNVRDoc;

enum EventViewIds {
    IDD_EVENT_VIEW = 101,
    IDC_MONITOR_PAGE = 1002,
    IDC_EVENT_SETUP = 1017,
    IDC_GO_BACKUP_VIEWER = 1070,
    IDC_GO_NETWORK_VIEWER = 1071,
    IDC_SEARCH_PAGE = 1075,
};

class CVyrNVRView : public QWidget, public platform::MessageReceiver, public PollingInstances {
public:
    enum : unsigned { kTimerCloseCaller = 9999, kTimerBackupMode = 8888 };
    static constexpr int kCloseCallerMs = 500;
    static constexpr int kBackupModeMs = 100;
    static constexpr int kSkinTopHeight = 76;

    CVyrNVRView(CVyrNVRDoc* document, QWidget* parent = nullptr);
    ~CVyrNVRView() override;

    void OnInitialUpdate();

    // Hooks the frame provides.
    std::function<void(int button)> onHandOver; // IDC_GO_NETWORK_VIEWER or IDC_GO_BACKUP_VIEWER
    std::function<void()> onCloseCaller;        // 500 ms after start-up

    void OnCommand(int id);
    void ShowHandOverButtons(bool visible);
    bool HandOverButtonsVisible() const;
    // The setup dialog, modal.
    void OpenSystemSetup();
    CEventDlg* Monitor() const { return monitor_; }
    // None until the operator first opens the search page.
    CEventSearchDlg* SearchPage() const { return search_; }
    CDVyrdax* Instance(int slot) const;
    int InstancesCreated() const;
    // True until the start-up reset of instance 0 (timer 8888) has run: a
    // poll handed to slot 0 before it would be cleared by it.
    bool StartUpPending() const { return timers_.IsActive(kTimerBackupMode); }
    CButtonST* Button(int id) const;
    // Ends the sessions of every instance; the number that still held one.
    int DisconnectAll();

    // PollingInstances
    void SetEventInfo(int slot, const QString& dvrName, const QString& id, const QString& pwd, const QString& addr,
                      short port, short idxDisp, short idxPolling, long time) override;
    void Connect(int slot) override;
    DVyrdaxTable GetEventData(int slot) override;
    bool isConnect(int slot) override;
    void DisConnectSvr(int slot) override;
    void ClearInfo(int slot) override;
    void CmdToDVR(int slot, long command, long index) override;

    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    struct Skin {
        QImage top, topStretch, topRight, rightStretch, bottomStretch;
    };
    void LoadSkin();
    void CreateButtons();
    void PlaceButtons();
    void ShowMonitorPage();
    void ShowSearchPage();
    void PlacePages();
    void OnTimer(unsigned id);
    void SetPageFaces();

    CVyrNVRDoc* document_;
    Skin skin_;
    std::array<std::unique_ptr<CDVyrdax>, kSlots> instances_;
    std::map<int, CButtonST*> buttons_;
    CEventDlg* monitor_ = nullptr;
    CEventSearchDlg* search_ = nullptr;
    platform::TimerSet timers_;
    bool handOverShown_ = false;
};
