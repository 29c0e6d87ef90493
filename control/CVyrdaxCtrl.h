#pragma once
// The control object: one per DVR a host shows, serving up to 64 of its
// channels. Hosts reach it only through its dispatch interface.
#include "control/audio/SoundPath.h"
#include "control/display/CVideoPane.h"
#include "control/interface/VyrdaxInterface.h"
#include "control/layout/PaneLayout.h"
#include "control/link/CDvrSocket.h"
#include "control/link/CFrameQueue.h"
#include "control/link/CLookupSocket.h"
#include "control/link/DvrPacket.h"
#include "control/record/CRecordCatalog.h"
#include "control/record/RecordingWriter.h"
#include "platform/Component.h"
#include "platform/Messages.h"
#include "platform/Timers.h"
#include "platform/WorkerThread.h"

#include <QFrame>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vyrdax {

class CLocalPlayback;
class CBackupRuns;
class XvidDecoder;

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
inline constexpr int kMaskStateSent = 17;
inline constexpr int kDefaultPtzSpeed = 50;

// The control's own window messages for its sockets.
inline constexpr uint32_t WM_LOOKUP_CONNECT = 0x500;
inline constexpr uint32_t WM_LOOKUP_CLOSE = 0x501;
inline constexpr uint32_t WM_LOOKUP_RECEIVE = 0x502;
inline constexpr uint32_t WM_DVR_SOCKET_CONNECT = 0x510;
inline constexpr uint32_t WM_DVR_SOCKET_CLOSE = 0x511;
// The receive thread has finished a login exchange.
inline constexpr uint32_t WM_DVR_LOGIN_EXCHANGED = 0x512;
// The receive thread found the link of a remote session down.
inline constexpr uint32_t WM_DVR_REMOTE_LINK_LOST = 0x513;

// DVR commands with a local effect or fields of their own.
enum DvrCommand : int32_t {
    CMD_PLAY = 6,
    CMD_FAST_FORWARD = 8,
    CMD_REWIND = 9,
    CMD_PAUSE = 10,
    CMD_STOP = 11,
    CMD_RESUME = 12,
    CMD_SPLIT_INDEX = 13,
    CMD_PLAY_FROM_TIME = 14,
    CMD_DVR_RECORD_ON = 16,
    CMD_DVR_RECORD_OFF = 17,
    CMD_GET_SETUP = 18,
    CMD_PUT_SETUP = 19,
    CMD_SPEAKER_LEVEL = 20,
    CMD_MIC_LEVEL = 21,
    CMD_EVENT_LOG = 32,
    CMD_SEARCH = 33,
};

// Module-wide play state: 0 stopped, 1 playing, 2 paused, 3 rewinding, 4
// fast-forwarding.
enum PlayStateValue : int { PLAY_STOPPED = 0, PLAY_PLAYING, PLAY_PAUSED, PLAY_REWINDING, PLAY_FAST_FORWARD };

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
    mutable std::mutex titleLock; // also guards name and groupName
    std::recursive_mutex displayLock;
    platform::WorkerThread displayThread;
    CFrameQueue queue;
    // Set by the display thread while it sleeps until a frame comes; the
    // receive thread wakes it with the frame that ends the wait.
    std::atomic<bool> awaitingFrame{false};
    // Set by the receive thread while it holds a remote frame back for room
    // in the full queue; the display's take of a frame, or an emptied
    // queue, wakes it.
    std::atomic<bool> awaitingRoom{false};
    // Queues a frame for the display and wakes it when it waits for one;
    // what Push returned.
    int QueueFrame(const uint8_t* payload, const FrameInfo& record)
    {
        const int pushed = queue.Push(payload, record);
        if (awaitingFrame.exchange(false))
            displayThread.Wake();
        return pushed;
    }
    // A frame is taken together with the login it is taken in, and a login
    // empties the queue before it counts: a frame queued in one session is
    // never taken as the next one's. What Front returned.
    int TakeFrame(uint8_t* destination, std::size_t capacity, FrameInfo* record,
                  const std::atomic<uint32_t>& loginSerial, uint32_t* session)
    {
        std::lock_guard<std::mutex> lock(handOverLock);
        const int taken = queue.Front(destination, capacity, record);
        queue.PopFront();
        if (const TakeHook hook = takeHookForTests.load())
            hook(*this);
        *session = loginSerial.load();
        return taken;
    }
    // Tests only: runs in a take between the frame and the login it is taken
    // in, as a display thread the machine held there. Null (the default)
    // for none.
    using TakeHook = void (*)(const ChannelSlot& slot);
    static inline std::atomic<TakeHook> takeHookForTests{nullptr};
    void EmptyBeforeLogin()
    {
        std::lock_guard<std::mutex> lock(handOverLock);
        queue.Clear();
    }
    std::mutex handOverLock;
    std::atomic<int> firstFrame{1};
    std::atomic<int> lastWidth{0};
    std::atomic<int> lastHeight{0};
    std::atomic<int> displayRestart{0}; // the display takes frames once a login set it
    // Set when a login is accepted: the display shows nothing of this
    // channel until its next key frame.
    std::atomic<bool> resynchronise{false};
    std::atomic<uint64_t> framesShown{0}; // for diagnostics and benchmarks
    // Where the display thread's time goes, for benchmarks: processor time
    // in each stage, and time spent waiting for the pane and display locks.
    struct DisplayTimes {
        std::atomic<uint64_t> decodeNs{0}, deinterlaceNs{0}, convertNs{0}, lockWaitNs{0};
    } displayTimes;
};

class CVyrdaxCtrl : public QWidget, public platform::IControl, public platform::MessageReceiver {
    friend class CLocalPlayback; // drives the panes, titles and status words of its channels
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

    // The DVR link.
    bool Connect(int16_t idxCh);
    void DisConnectSvr(int16_t idxCh);
    void DisconnectBackup();
    // FALSE as soon as a live link is known down (a command whose send
    // failed included), so a host can tell whether what it sent went out.
    bool isConnect(int16_t idxCh) const;
    int16_t GetDVRType() const { return static_cast<int16_t>(dvrType_.load() & 0xFFFF); }
    void SetEventInfo(const std::string& dvrName, const std::string& id, const std::string& pwd,
                      const std::string& addr, int16_t port, int16_t idxDisp, int16_t idxPolling, int32_t time);

    // Commands to the DVR.
    void CmdToDVR(int32_t command, int32_t index, int16_t idxCh);
    bool PTZRControl(const std::string& command, int16_t idxCh);
    bool SetPTSpeed(int16_t value);
    void StartDVRPlaybackTime(int32_t dtime, int32_t index, int16_t idxCh);
    void GetBackupInfo(int32_t time, int16_t timeList);
    platform::Variant GetDVRData() const;
    platform::Variant GetEventData() const;
    platform::Variant GetMonthData() const;
    platform::Variant GetTimeData() const;

    // Recording on the PC. WriteRecordFrame runs on the receive thread for
    // each frame of a recording channel.
    void SetRecType(int16_t type);
    int32_t StartRecord(const std::string& path, const std::string& fname1, const std::string& fname2,
                        int32_t space, int16_t idxCh);
    void StopRecord(int16_t idxCh);
    bool IsRecording(int ch) const { return recorder_->IsRecording(ch); }
    void WriteRecordFrame(int channel, const uint8_t* frame, const FrameInfo& info);
    // AVI mode: the receive thread's frame of a channel with AVI work.
    void WriteAviFrame(int channel, const uint8_t* frame, uint32_t length, const DvrPacketHeader& header);
    RecordingWriter& Recorder() { return *recorder_; }

    // Searches of the recordings on the PC.
    platform::Variant GetMonthDataL(const std::string& recordDirectory, const std::string& searchOption);
    platform::Variant GetTimeDataL(const std::string& recordDirectory, const std::string& searchOption);
    CRecordCatalog& MonthCatalog() { return *monthCatalog_; }
    CRecordCatalog& DayCatalog() { return *dayCatalog_; }

    // Two-way sound with the DVR.
    void MicStart();
    void MicStop();
    void AudioEnable(int16_t idxCh);
    bool SetSoundMute(int32_t val);
    bool SetMicVolume(int32_t val, int16_t idxCh);
    bool SetSpeakerVolume(int32_t val, int16_t idxCh);
    SoundPath& Sound() { return *sound_; }

    // A JPEG snapshot of the channel's last picture; true when it was written.
    bool SaveToBMP(const std::string& path, int16_t idxCh);

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
    // The display threads follow the remote mode (a remote session's play
    // state) and the login; each change wakes them.
    void SetRemoteMode(int mode);
    void WakeDisplayThreads();
    // The receive thread waits for room in a full queue of a remote session:
    // whoever makes room tells it.
    void NoteRoomInQueue(ChannelSlot& slot);
    int Version() const { return version_; }
    uint32_t OutlineColor() const { return outlineColor_; }
    const LayoutState& Layout() const { return layout_; }
    uint32_t ChannelMask() const { return channelMask_.load(); }
    int Port() const { return port_; }
    const std::string& Address() const { return configuredAddress_; }
    bool UsesLookup() const { return useLookup_; }
    int RecordMode() const { return recordMode_; }
    int AudioOption() const { return audioOption_; }
    bool LoggedIn() const { return loggedIn_.load() != 0; }
    bool ReceiveThreadRunning() const { return receiveThread_.Running(); }
    int PtzSpeed() const { return ptzSpeed_.load(); }
    static int PlayState();
    // Runs on a live display thread between a frame's decode and its title,
    // so that a test can hold a frame there as a loaded machine would.
    // Null (the default) for none.
    using FrameHook = void (*)(int channel);
    static void SetDecodedFrameHookForTests(FrameHook hook);
    // Runs on a display thread after it reads the clock that the remote
    // play-back clock's wait is worked out from, with the frame it paces,
    // so that a test can make the read late as a loaded machine would, or
    // follow what is paced. Null (the default) for none.
    using RecordHook = void (*)(int channel, const FrameInfo& record);
    static void SetPlaybackClockHookForTests(RecordHook hook);
    // Runs on the receive thread for each video frame it has read, so that
    // a test can tell what has left the link. Null (the default) for none.
    static void SetReceivedFrameHookForTests(RecordHook hook);

    // Local playback and backups (control/playback/, control/backup/).
    CLocalPlayback& LocalPlayback() { return *localPlayback_; }
    CBackupRuns& Backups() { return *backups_; }
    // The channel's pane, made when it has none (nullptr without a host).
    CVideoPane* EnsurePane(int ch);
    int32_t BackUp(const std::string& recordDirectory, const std::string& backupDirectory, int32_t start,
                   int32_t end, int32_t diskSize);

protected:
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Link internals.
    void ConnectToDvr();
    void OnSocketConnect(int error);
    // The login exchange runs on the receive thread, so a DVR that takes
    // the connection and never answers cannot hold up the GUI thread.
    void RequestLogin(std::shared_ptr<CDvrSocket> socket, const DvrPacketHeader& request);
    void CancelPendingLogin();
    void ExchangeLogin(platform::WorkerThread& self);
    void OnLoginExchanged();
    void FinishLogin(bool answered, const DvrPacketHeader& reply);
    // Channel-mask requests from any thread. Each bumps a generation, and
    // the receive thread marks the mask sent only if no request came in
    // while it was sending, so the last request always reaches the DVR.
    void RequestChannelMask(uint32_t mask);
    void AddToChannelMask(uint32_t bits);
    // Sends the mask if a request is pending; true when one was sent.
    bool SendPendingChannelMask();
    // Ends the session read from `socket` on the receive thread, unless the
    // host has begun another one on a new socket meanwhile; `beforeDrop`
    // keeps what the session delivered. False when the session was stale.
    bool DropLinkOf(const CDvrSocket& socket, int code, const std::function<void()>& beforeDrop = {});
    int LinkErrorIndex() const;
    void BeginConnection();
    void StartSessionConnect();
    void Logout();
    void DropLink(int code);
    void EndEventSession();
    bool LiveSession() const { return !eventLogMode_ && remoteMode_ == 0; }
    void SendToAssigned(uint32_t message, platform::WPARAM wParam);
    std::vector<int> AssignedDisplayIndexes() const;
    void SendToDisplayIndexes(const std::vector<int>& indexes, uint32_t message, platform::WPARAM wParam);
    void CancelPendingConnect();
    std::shared_ptr<CDvrSocket> CurrentSocket() const;
    // A connection the DVR closed, or that broke, is down at once: the
    // receive thread then ends the session as after a silence.
    void NoteBrokenLink(const CDvrSocket& socket);
    bool SendPacket(const DvrPacketHeader& header, const void* payload = nullptr, std::size_t length = 0);
    bool StartReceiveThread();
    bool StartDisplayThread(int ch);
    void ResetChannelDisplay(int ch);
    void ShowPlayStateTag(const QString& tag);
    void ResumeRemoteRequest();
    // The connect lock. Taken on the receive thread it gives up (owns
    // nothing) once the thread is asked to stop.
    std::unique_lock<std::recursive_timed_mutex> LockConnect();
    // Ends an event-log or remote session that could not log in, or a
    // remote one whose link was lost, telling the host with
    // WM_VIDEO_PROGRESS of the given kind.
    void EndOneShotSession(platform::WPARAM eventLogKind, platform::WPARAM remoteKind);
    // A remote session does not come back by itself once its link is down:
    // it ends as one that could not connect, and the operator is told.
    void OnRemoteLinkLost();

    // Receive thread.
    void ReceiveThreadProc(platform::WorkerThread& self);
    // Each handler reads what follows its header; true when that was read
    // whole and counts as the DVR's activity.
    bool HandleVideo(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header,
                     std::vector<uint8_t>& frameBuffer);
    bool HandleAudio(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header);
    bool HandleControlReply(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header);
    bool Drain(platform::WorkerThread& self, CDvrSocket& socket, std::size_t length);

    // Receive thread's share of the sound: the oldest microphone block goes
    // out, and an audio payload is read and kept or dropped.
    // True when a block went out.
    bool SendMicrophoneBlock();
    // True when the payload was read and kept for the speaker.
    bool ReceiveSound(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header);

    // Live display. A decoder that cannot be made tells the operator and
    // ends the process; false then.
    static bool CreateDecoder(XvidDecoder& decoder);
    void DisplayThreadProc(platform::WorkerThread& self, int channel);
    // The display thread's wait on an empty queue.
    void AwaitFrame(platform::WorkerThread& self, ChannelSlot& slot, bool remote, int64_t& nextTake, int& emptyPolls);
    void RunPlaybackClock(int channel, const FrameInfo& record);

    // Lookup client.
    void LookupDvrAddress();
    void OnLookupConnect();
    void OnLookupReceive();

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
    std::atomic<int> recordMode_{0}; // nonzero: movie files; read by the receive thread at splits
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

    std::atomic<uint32_t> channelMask_{0}; // written under maskLock_
    std::atomic<int> maskState_{kMaskStateSent};
    uint64_t maskGeneration_ = 0; // under maskLock_
    std::atomic<bool> receiveStopping_{false};
    platform::WorkerThread receiveThread_;

    // Link flags, shared by the GUI thread and the receive thread.
    std::atomic<int> loggedIn_{0};
    // Counts the logins, so a frame taken in one session is never shown in
    // the next.
    std::atomic<uint32_t> loginSerial_{0};
    std::atomic<int> connecting_{0};
    std::atomic<int> linkDown_{0};
    std::atomic<int> reconnectPending_{0};
    std::atomic<int> stopped_{1};
    std::atomic<bool> eventSessionOpen_{false}; // an event-log session between Connect and its end
    std::string address_;
    std::atomic<std::time_t> storedTime_{0};
    std::atomic<int> timeListFlag_{0};
    std::atomic<int> ptzSpeed_{kDefaultPtzSpeed};
    std::atomic<bool> playbackStream_{false};
    // Shared with the live display: raised here when a remote frame finds
    // its queue full, and there while it holds frames back for their times.
    std::atomic<bool> queueFull_{false};
    std::atomic<bool> pacing_{false};

    mutable std::mutex socketPointerLock_;
    std::shared_ptr<CDvrSocket> socket_;
    std::unique_ptr<QSocketNotifier> connectNotifier_;
    QTimer connectTimer_;
    std::mutex socketLock_; // around ConnectToDvr
    std::mutex sendLock_;   // one whole packet at a time
    std::mutex maskLock_;

    // A login handed to the receive thread, and its outcome for the GUI
    // thread. An attempt number tells a stale outcome from the current one.
    struct LoginExchange {
        std::shared_ptr<CDvrSocket> socket;
        DvrPacketHeader request;
        DvrPacketHeader reply;
        uint64_t attempt = 0;
        bool answered = false;
    };
    std::mutex loginLock_;
    uint64_t loginAttempt_ = 0;             // under loginLock_
    std::optional<LoginExchange> loginRequest_; // under loginLock_
    std::optional<LoginExchange> loginOutcome_; // under loginLock_
    CLookupSocket lookupSocket_;

    // Tables handed to the host.
    std::unique_ptr<uint8_t[]> eventTable_; // count, then up to 65536 records
    std::array<uint8_t, kMonthTableSize> monthTable_{};
    std::array<uint8_t, kTimeListSize> timeList_{};
    std::array<uint8_t, kSetupRecordSmallSize> setupSmall_{};
    std::array<uint8_t, kSetupRecordLargeSize> setupLarge_{};

    std::recursive_timed_mutex connectLock_;
    std::mutex statusLock_; // read-modify-write of status words across threads
    std::array<ChannelSlot, kChannelCount> channels_;

    // Recording and the local searches. The writer is told of stopped
    // recordings and file faults, which it reports from any thread.
    std::unique_ptr<RecordingWriter> MakeRecordingWriter();
    std::unique_ptr<RecordingWriter> recorder_ = MakeRecordingWriter();
    std::unique_ptr<CRecordCatalog> monthCatalog_ = std::make_unique<CRecordCatalog>();
    std::unique_ptr<CRecordCatalog> dayCatalog_ = std::make_unique<CRecordCatalog>();

    platform::TimerSet timers_;

    // Sound devices and block lists; its speaker routine asks whether the
    // receive thread runs.
    std::unique_ptr<SoundPath> sound_ = std::make_unique<SoundPath>([this] { return ReceiveThreadRunning(); });

    // Local playback and backups; stopped first when the control goes.
    std::unique_ptr<CLocalPlayback> localPlayback_;
    std::unique_ptr<CBackupRuns> backups_;
};

} // namespace vyrdax
