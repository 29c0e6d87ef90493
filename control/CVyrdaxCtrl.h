#pragma once
// The control object: one per DVR a host shows, serving up to 64 of its
// channels. Hosts reach it only through its dispatch interface.
#include "control/display/CVideoPane.h"
#include "control/interface/VyrdaxInterface.h"
#include "control/layout/PaneLayout.h"
#include "control/link/CFrameQueue.h"
#include "platform/Component.h"
#include "platform/Messages.h"
#include "platform/Timers.h"
#include "platform/WorkerThread.h"

#include <QFrame>
#include <QPointer>
#include <QWidget>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace vyrdax {

// Status word bits of a channel.
enum ChannelStatusBits : int32_t {
    STATUS_LIVE = 0x1,
    STATUS_RECORD_MANUAL = 0x4,
    STATUS_RECORD_SCHEDULE = 0x8,
    STATUS_RECORD_ALARM = 0x10,
    STATUS_DVR_D = 0x40,
    STATUS_DVR_PLAYBACK = 0x200,
    STATUS_PLAY = 0x1000,
    STATUS_PAUSE = 0x2000,
    STATUS_STOP = 0x4000,
};

inline constexpr int kReceiveTimerId = 270;
inline constexpr int kLookupTimerId = 60000;
inline constexpr int kPaneControlIdBase = 5000;
inline constexpr int kDefaultPort = 9201;
inline constexpr uint32_t kDefaultOutlineColor = 0xE9E9E9;
inline constexpr uint32_t kSelectedOutline = 0x0000FF;
inline constexpr uint32_t kUnselectedOutline = 0x202020;
inline constexpr int kThreadStopWaitMs = 300;

// Pane construction sizes: picture 720 x 576, window 752 x 570.
inline constexpr int kPanePictureWidth = 720, kPanePictureHeight = 576;
inline constexpr int kPaneWindowWidth = 752, kPaneWindowHeight = 570;

struct ChannelSlot {
    std::string name;
    std::string groupName;
    std::string recordPrefix;
    std::atomic<int> displayIndex{-1};
    std::atomic<bool> assigned{false};
    std::atomic<int32_t> status{0};
    std::atomic<int> stopped{1};
    QPointer<CVideoPane> pane;
    std::mutex titleLock;
    std::recursive_mutex displayLock;
    platform::WorkerThread displayThread;
    CFrameQueue queue;
    std::atomic<int> firstFrame{1};
};

class CVyrdaxCtrl : public QWidget, public platform::IControl, public platform::MessageReceiver {
public:
    explicit CVyrdaxCtrl(QWidget* host);
    ~CVyrdaxCtrl() override;

    // IControl
    platform::HRESULT GetIDsOfNames(const std::string& name, int* dispid) override;
    platform::HRESULT Invoke(int dispid, const std::vector<platform::Variant>& arguments,
                             platform::Variant* result) override;
    QWidget* Widget() override { return this; }
    void Release() override;

    // MessageReceiver: the control's own window messages.
    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override;

    // Bookkeeping methods of the dispatch interface.
    void setDispChannel(int16_t idx);
    void SetConnectInfo(const std::string& channelName, const std::string& id, const std::string& pwd,
                        const std::string& mac, const std::string& addr, int16_t port, int16_t mode, int16_t idxCh,
                        int16_t aopt, int16_t idxDispChannel);
    void ClearInfo(int16_t idxCh);
    void SetStatus(int16_t idxCh, int32_t status);
    int32_t GetStatus(int16_t idxCh) const;
    bool isReady(int16_t idxCh) const;
    std::string GetChannelName(int16_t idxCh) const;
    std::string GetGroupName(int16_t idxCh) const;
    int16_t GetUserRight() const { return static_cast<int16_t>(userRight_.load()); }
    int16_t GetVideoSignalType() const { return static_cast<int16_t>(videoSignalType_.load()); }
    int16_t GetSvrChannel() const { return static_cast<int16_t>(pollingIndex_); }
    void SetBackupMode(int16_t backup);
    void setVersion(int16_t version) { version_ = version; }
    void MouseDbClk(int16_t selectDispCh);

    // Layout.
    void ReplaceWnd(int16_t displayMode, int16_t next, int16_t selectDispCh, int16_t left, int16_t top,
                    int16_t right, int16_t bottom);
    bool PointInRect(int16_t idxCh, int32_t x, int32_t y) const;
    void SetSelection(int16_t idxCh, int16_t select);
    void SetOutlineColor(int32_t color);
    void LayoutPanes();
    CellRect CellRectOf(int displayIndex) const;

    // The title text of a channel (-1: every connecting channel with a pane).
    void SetChannelStatus(const std::string& text, int channel);
    // Reacts to a video frame's channel state kind (1..6).
    void UpdateChannelState(int channel, int kind);

    // Sends one of the host messages; nothing before setDispChannel. A
    // worker passes its stop flag so that it never waits on a host that is
    // joining it.
    platform::LRESULT SendHostMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam,
                                      const std::atomic<bool>* stop = nullptr);

    // Accessors used by tests and the other areas of the control.
    QWidget* Host() const { return host_; }
    ChannelSlot& Channel(int ch) { return channels_[ch]; }
    const ChannelSlot& Channel(int ch) const { return channels_[ch]; }
    CVideoPane* Pane(int ch) const { return ValidChannel(ch) ? channels_[ch].pane.data() : nullptr; }
    static bool ValidChannel(int ch) { return ch >= 0 && ch < kChannelCount; }
    bool EventLogMode() const { return eventLogMode_; }
    int RemoteMode() const { return remoteMode_; }
    int Version() const { return version_; }
    uint32_t OutlineColor() const { return outlineColor_; }
    const LayoutState& Layout() const { return layout_; }
    uint32_t ChannelMask() const { return channelMask_.load(); }
    int Port() const { return port_; }
    const std::string& Address() const { return configuredAddress_; }
    bool UsesLookup() const { return useLookup_; }
    int RecordMode() const { return recordMode_; }
    int AudioOption() const { return audioOption_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool event(QEvent* event) override;

private:
    void OnTimer(unsigned id);
    void StopDisplayThread(int ch);
    void StopReceiveThread();
    void ShowDisconnected(int ch);
    void RedrawState(int ch, int32_t status);
    void UpdatePlaceholder(int ch, bool show, const CellRect& rect);

    QPointer<QWidget> host_;        // recorded by setDispChannel
    std::atomic<bool> hostKnown_{false};
    std::array<uint32_t, kHostMessageCount> hostMessages_{};

    // DVR connection fields.
    std::string configuredAddress_;
    bool useLookup_ = true;
    std::string loginId_;
    std::string password_;
    int port_ = kDefaultPort;
    int audioOption_ = 0;
    int recordMode_ = 0;
    std::atomic<int> userRight_{0};
    std::atomic<int> videoSignalType_{0};
    std::atomic<int> dvrType_{1};

    // Host mode.
    std::atomic<bool> eventLogMode_{false};
    std::atomic<int> remoteMode_{0};
    int version_ = 1;
    int pollingIndex_ = 0;

    LayoutState layout_;
    uint32_t outlineColor_ = kDefaultOutlineColor;
    bool panesExist_ = false;
    std::array<QPointer<QFrame>, kChannelCount> placeholders_{};

    std::atomic<uint32_t> channelMask_{0};
    std::atomic<bool> receiveStopping_{false};
    platform::WorkerThread receiveThread_;

    std::recursive_mutex connectLock_;
    std::mutex statusLock_; // read-modify-write of status words across threads
    std::array<ChannelSlot, kChannelCount> channels_;

    platform::TimerSet timers_;
};

} // namespace vyrdax
