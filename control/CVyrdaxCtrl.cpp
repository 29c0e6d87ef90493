#include "CVyrdaxCtrl.h"

#include "StatusTexts.h"
#include "control/backup/CBackupRuns.h"
#include "control/playback/CLocalPlayback.h"
#include "control/display/ColorConversion.h"
#include "control/filter/Deinterlace.h"
#include "control/module/VyrdaxModule.h"

#include <QPainter>
#include <QTimerEvent>

#include <cstdio>
#include <ctime>

namespace vyrdax {

using platform::Variant;

namespace {

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }

} // namespace

CVyrdaxCtrl::CVyrdaxCtrl(QWidget* host)
    : QWidget(host), timers_(this, [this](unsigned id) { OnTimer(id); })
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    setAttribute(Qt::WA_OpaquePaintEvent);
    InitDeinterlace(1, 73);
    InitColorConversion();
    localPlayback_ = std::make_unique<CLocalPlayback>(*this);
    backups_ = std::make_unique<CBackupRuns>(*this);
    ModuleObjectCreated();
}

CVyrdaxCtrl::~CVyrdaxCtrl()
{
    // Every thread is stopped and joined before anything it touches goes.
    backups_.reset();
    localPlayback_.reset();
    // All asked at once, so that the close waits for the frame each has in
    // hand, not for one frame after another while the others go on.
    for (int ch = 0; ch < kChannelCount; ++ch)
        channels_[ch].displayThread.RequestStop();
    for (int ch = 0; ch < kChannelCount; ++ch)
        channels_[ch].displayThread.StopAndJoin();
    receiveStopping_ = true;
    receiveThread_.StopAndJoin();
    CancelPendingConnect();
    if (std::shared_ptr<CDvrSocket> socket = CurrentSocket())
        socket->Shutdown();
    for (int ch = 0; ch < kChannelCount; ++ch) {
        delete channels_[ch].pane.data();
        delete placeholders_[ch].data();
    }
    ModuleObjectDestroyed();
}

void CVyrdaxCtrl::Release()
{
    delete this;
}

// ---- dispatch -------------------------------------------------------------

platform::HRESULT CVyrdaxCtrl::GetIDsOfNames(const std::string& name, int* dispid)
{
    return platform::DispatchTable(Methods()).GetIDsOfNames(name, dispid);
}

platform::HRESULT CVyrdaxCtrl::Invoke(int dispid, const std::vector<Variant>& arguments, Variant* result)
{
    std::vector<Variant> a;
    platform::HRESULT hr = platform::DispatchTable(Methods()).Check(dispid, arguments, &a, nullptr);
    if (hr != platform::S_OK)
        return hr;
    Variant r;
    auto i2 = [&](int k) { return static_cast<int16_t>(a[k].i); };
    auto i4 = [&](int k) { return static_cast<int32_t>(a[k].i); };
    auto str = [&](int k) -> const std::string& { return a[k].text; };

    switch (dispid) {
    case DISPID_GetUserRight: r = Variant::Short(GetUserRight()); break;
    case DISPID_SetOutlineColor: SetOutlineColor(i4(0)); break;
    case DISPID_GetVideoSignalType: r = Variant::Short(GetVideoSignalType()); break;
    case DISPID_setDispChannel: setDispChannel(i2(0)); break;
    case DISPID_GetSvrChannel: r = Variant::Short(GetSvrChannel()); break;
    case DISPID_SetBackupMode: SetBackupMode(i2(0)); break;
    case DISPID_setVersion: setVersion(i2(0)); break;
    case DISPID_SetConnectInfo:
        SetConnectInfo(str(0), str(1), str(2), str(3), str(4), i2(5), i2(6), i2(7), i2(8), i2(9));
        break;
    case DISPID_ClearInfo: ClearInfo(i2(0)); break;
    case DISPID_SetStatus: SetStatus(i2(0), i4(1)); break;
    case DISPID_GetChannelName: r = Variant::String(platform::WidenLatin1(GetChannelName(i2(0)))); break;
    case DISPID_GetStatus: r = Variant::Long(GetStatus(i2(0))); break;
    case DISPID_isReady: r = Variant::Bool(isReady(i2(0))); break;
    case DISPID_PointInRect: r = Variant::Bool(PointInRect(i2(0), i4(1), i4(2))); break;
    case DISPID_SetSelection: SetSelection(i2(0), i2(1)); break;
    case DISPID_ReplaceWnd: ReplaceWnd(i2(0), i2(1), i2(2), i2(3), i2(4), i2(5), i2(6)); break;
    case DISPID_GetGroupName: r = Variant::String(platform::WidenLatin1(GetGroupName(i2(0)))); break;
    case DISPID_MouseDbClk: MouseDbClk(i2(0)); break;

    case DISPID_Connect: r = Variant::Bool(Connect(i2(0))); break;
    case DISPID_DisConnectSvr: DisConnectSvr(i2(0)); break;
    case DISPID_DisconnectBackup: DisconnectBackup(); break;
    case DISPID_isConnect: r = Variant::Bool(isConnect(i2(0))); break;
    case DISPID_GetDVRType: r = Variant::Short(GetDVRType()); break;
    case DISPID_SetEventInfo: SetEventInfo(str(0), str(1), str(2), str(3), i2(4), i2(5), i2(6), i4(7)); break;
    case DISPID_CmdToDVR: CmdToDVR(i4(0), i4(1), i2(2)); break;
    case DISPID_PTZRControl: r = Variant::Bool(PTZRControl(str(0), i2(1))); break;
    case DISPID_SetPTSpeed: r = Variant::Bool(SetPTSpeed(i2(0))); break;
    case DISPID_StartDVRPlaybackTime: StartDVRPlaybackTime(i4(0), i4(1), i2(2)); break;
    case DISPID_GetBackupInfo: GetBackupInfo(i4(0), i2(1)); break;
    case DISPID_GetDVRData: r = GetDVRData(); break;
    case DISPID_GetEventData: r = GetEventData(); break;
    case DISPID_GetMonthData: r = GetMonthData(); break;
    case DISPID_GetTimeData: r = GetTimeData(); break;

    case DISPID_SetRecType: SetRecType(i2(0)); break;
    case DISPID_StartRecord: r = Variant::Long(StartRecord(str(0), str(1), str(2), i4(3), i2(4))); break;
    case DISPID_StopRecord: StopRecord(i2(0)); break;
    case DISPID_GetMonthDataL: r = GetMonthDataL(str(0), str(1)); break;
    case DISPID_GetTimeDataL: r = GetTimeDataL(str(0), str(1)); break;

    case DISPID_StartLocalPlayback: localPlayback_->StartLocalPlayback(i2(0), static_cast<std::time_t>(i4(1))); break;
    case DISPID_PlayFile: localPlayback_->PlayFile(i4(0)); break; // published without a result
    case DISPID_PauseFile: localPlayback_->PauseFile(); break;
    case DISPID_StopFile: localPlayback_->StopFile(); break;
    case DISPID_EndPlayFile: localPlayback_->EndPlayFile(); break;
    case DISPID_CloseDispThread: localPlayback_->CloseDispThread(); break;
    case DISPID_SeekFrame: r = Variant::Long(localPlayback_->SeekFrame(i4(0))); break;
    case DISPID_GetPlayPos: r = Variant::Long(localPlayback_->GetPlayPos()); break;
    case DISPID_BackUp: r = Variant::Long(BackUp(str(0), str(1), i4(2), i4(3), i4(4))); break;

    // No viewer uses single-file playback: both answer 0.
    case DISPID_StartPlayFile:
    case DISPID_GetMaxFrmNum: r = Variant::Long(0); break;

    // The volumes are set on the DVR and never read back: both answer 0.
    case DISPID_GetMicVolume:
    case DISPID_GetSpeakerVolume: r = Variant::Long(0); break;
    case DISPID_SaveToBMP: r = Variant::Bool(SaveToBMP(str(0), i2(1))); break;
    case DISPID_MicStart: MicStart(); break;
    case DISPID_MicStop: MicStop(); break;
    case DISPID_AudioEnable: AudioEnable(i2(0)); break;
    case DISPID_SetSoundMute: r = Variant::Bool(SetSoundMute(i4(0))); break;
    case DISPID_SetMicVolume: r = Variant::Bool(SetMicVolume(i4(0), i2(1))); break;
    case DISPID_SetSpeakerVolume: r = Variant::Bool(SetSpeakerVolume(i4(0), i2(1))); break;
    default: break; // methods without a result
    }
    if (result)
        *result = std::move(r);
    return platform::S_OK;
}

// ---- window messages --------------------------------------------------------

bool CVyrdaxCtrl::event(QEvent* e)
{
    if (platform::HandleMessageEvent(e, this))
        return true;
    return QWidget::event(e);
}

platform::LRESULT CVyrdaxCtrl::OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM)
{
    switch (message) {
    case WM_VIDEO_SELECT:
    case WM_USER + 0x16: return 0;
    case WM_VIDEO_TOGGLE: return 1;
    case WM_DVR_SOCKET_CONNECT: OnSocketConnect(static_cast<int>(wParam)); return 0;
    case WM_DVR_LOGIN_EXCHANGED: OnLoginExchanged(); return 0;
    case WM_DVR_REMOTE_LINK_LOST: OnRemoteLinkLost(); return 0;
    case WM_DVR_SOCKET_CLOSE: return 0; // a closed link is noticed by the receive thread's time-outs
    case WM_LOOKUP_CONNECT: OnLookupConnect(); return 0;
    case WM_LOOKUP_RECEIVE: OnLookupReceive(); return 0;
    case WM_LOOKUP_CLOSE: return 0;
    default: return 0;
    }
}

void CVyrdaxCtrl::timerEvent(QTimerEvent* e)
{
    if (!timers_.Dispatch(e->timerId()))
        QWidget::timerEvent(e);
}

void CVyrdaxCtrl::OnTimer(unsigned id)
{
    if (id == static_cast<unsigned>(kLookupTimerId)) {
        timers_.KillTimer(id);
        if (!eventLogMode_ && remoteMode_ == 0)
            BeginConnection();
        return;
    }
    if (!loggedIn_.load() && reconnectPending_.load() == 1)
        BeginConnection();
}

void CVyrdaxCtrl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), CVideoPane::FromColorRef(outlineColor_));
}

void CVyrdaxCtrl::moveEvent(QMoveEvent*)
{
    if (panesExist_)
        LayoutPanes();
}

platform::LRESULT CVyrdaxCtrl::SendHostMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam,
                                               const std::atomic<bool>* stop)
{
    if (!hostKnown_.load())
        return 0;
    QWidget* host = host_.data();
    if (!host)
        return 0;
    return platform::SendMessage(host, message, wParam, lParam, stop);
}

// ---- bookkeeping ------------------------------------------------------------

void CVyrdaxCtrl::setDispChannel(int16_t idx)
{
    host_ = parentWidget();
    layout_.displayMode = idx;
    for (int k = 0; k < kHostMessageCount; ++k)
        hostMessages_[k] = kHostMessageBase + static_cast<uint32_t>(k);
    hostKnown_ = host_ != nullptr;
}

void CVyrdaxCtrl::SetConnectInfo(const std::string& channelName, const std::string& id, const std::string& pwd,
                                 const std::string& mac, const std::string& addr, int16_t port, int16_t mode,
                                 int16_t idxCh, int16_t aopt, int16_t idxDispChannel)
{
    const int ch = idxCh - 1; // counted from 1 here only
    if (!ValidChannel(ch))
        return;
    std::lock_guard<std::recursive_timed_mutex> guard(connectLock_);
    ChannelSlot& slot = channels_[ch];
    EnsurePane(ch);
    slot.displayIndex = idxDispChannel;
    if (slot.pane)
        slot.pane->SetPaneIndex(idxDispChannel);
    slot.assigned = true;
    {
        std::lock_guard<std::mutex> names(slot.titleLock);
        slot.name = channelName;
        slot.groupName = mac;
    }
    loginId_ = id;
    password_ = pwd;
    configuredAddress_ = addr;
    useLookup_ = addr.empty();
    port_ = static_cast<uint16_t>(port); // ports above 32767 arrive as negative shorts
    recordMode_ = mode;
    audioOption_ = aopt;
    SetChannelStatus(text::kDisconnected, ch);
    LayoutPanes();
}

CVideoPane* CVyrdaxCtrl::EnsurePane(int ch)
{
    ChannelSlot& slot = channels_[ch];
    if (!slot.pane && parentWidget()) {
        auto* pane = new CVideoPane(kPanePictureWidth, kPanePictureHeight, kPaneWindowWidth, kPaneWindowHeight,
                                    parentWidget());
        pane->setObjectName(QString::number(kPaneControlIdBase + ch));
        pane->RightTitle()->SetVersion(version_);
        slot.pane = pane;
        panesExist_ = true;
    }
    return slot.pane.data();
}

void CVyrdaxCtrl::StopDisplayThread(int ch)
{
    channels_[ch].displayThread.StopAndJoin();
}

void CVyrdaxCtrl::StopReceiveThread()
{
    receiveStopping_ = true;
    receiveThread_.StopAndJoin();
    receiveStopping_ = false;
}

void CVyrdaxCtrl::ClearInfo(int16_t idxCh)
{
    std::unique_lock<std::recursive_timed_mutex> guard = LockConnect();
    if (!guard.owns_lock())
        return;
    auto unbind = [this](int ch) {
        ChannelSlot& slot = channels_[ch];
        recorder_->FinishAvi(ch);
        slot.assigned = false;
        std::lock_guard<std::mutex> names(slot.titleLock);
        slot.name.clear();
        slot.groupName.clear();
        slot.displayIndex = -1;
    };
    if (eventLogMode_) {
        if (ValidChannel(idxCh))
            unbind(idxCh);
        return;
    }
    if (remoteMode_ > 0) {
        for (int ch = 0; ch < kChannelCount; ++ch)
            unbind(ch);
        return;
    }
    if (!ValidChannel(idxCh))
        return;
    unbind(idxCh);
    StopDisplayThread(idxCh);
    if (channelMask_.load() == 0)
        StopReceiveThread();
    ChannelSlot& slot = channels_[idxCh];
    delete slot.pane.data();
    slot.pane = nullptr;
}

void CVyrdaxCtrl::SetStatus(int16_t idxCh, int32_t status)
{
    if (!ValidChannel(idxCh))
        return;
    int32_t word;
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        ChannelSlot& slot = channels_[idxCh];
        word = slot.status.load();
        if (status != STATUS_LIVE && (word & status))
            return;
        if (status == STATUS_PLAY) {
            slot.status = STATUS_PLAY;
            return;
        }
        switch (status) {
        case STATUS_LIVE:
            word &= ~(STATUS_LIVE | STATUS_RECORD_MANUAL | STATUS_RECORD_SCHEDULE | STATUS_RECORD_ALARM);
            break;
        case STATUS_RECORD_MANUAL: word &= ~(STATUS_RECORD_SCHEDULE | STATUS_RECORD_ALARM); break;
        case STATUS_RECORD_SCHEDULE: word &= ~(STATUS_RECORD_MANUAL | STATUS_RECORD_ALARM); break;
        case STATUS_RECORD_ALARM: word &= ~(STATUS_RECORD_MANUAL | STATUS_RECORD_SCHEDULE); break;
        default: break;
        }
        word |= status;
        slot.status = word;
    }
    RedrawState(idxCh, word);
}

int32_t CVyrdaxCtrl::GetStatus(int16_t idxCh) const
{
    return ValidChannel(idxCh) ? channels_[idxCh].status.load() : 0;
}

bool CVyrdaxCtrl::isReady(int16_t idxCh) const
{
    return ValidChannel(idxCh) && channels_[idxCh].assigned.load();
}

std::string CVyrdaxCtrl::GetChannelName(int16_t idxCh) const
{
    if (!ValidChannel(idxCh))
        return {};
    std::lock_guard<std::mutex> names(channels_[idxCh].titleLock);
    return channels_[idxCh].name;
}

std::string CVyrdaxCtrl::GetGroupName(int16_t idxCh) const
{
    if (!ValidChannel(idxCh))
        return {};
    std::lock_guard<std::mutex> names(channels_[idxCh].titleLock);
    return channels_[idxCh].groupName;
}

void CVyrdaxCtrl::SetBackupMode(int16_t backup)
{
    if (backup == 3) {
        eventLogMode_ = true;
        SetRemoteMode(0);
    } else {
        eventLogMode_ = false;
        SetRemoteMode(backup);
    }
}

bool CVyrdaxCtrl::SaveToBMP(const std::string& path, int16_t idxCh)
{
    CVideoPane* pane = Pane(idxCh);
    if (!pane || channels_[idxCh].status.load() == 0 || path.empty())
        return false;
    std::lock_guard<std::recursive_mutex> lock(channels_[idxCh].displayLock);
    // Reports what happened: hosts show their own text when no file came.
    return pane->SaveSnapshot(path) == 1;
}

void CVyrdaxCtrl::MouseDbClk(int16_t selectDispCh)
{
    localPlayback_->SelectMaster(selectDispCh);
}

// ---- status texts -----------------------------------------------------------

void CVyrdaxCtrl::RedrawState(int ch, int32_t status)
{
    if (CVideoPane* pane = channels_[ch].pane.data())
        pane->RightTitle()->DrawStateTitle(QString(), status);
}

void CVyrdaxCtrl::ShowDisconnected(int ch)
{
    ChannelSlot& slot = channels_[ch];
    slot.status = 0;
    std::lock_guard<std::mutex> lock(slot.titleLock);
    QString title;
    if (!slot.name.empty()) {
        char buffer[512];
        std::snprintf(buffer, sizeof buffer, text::kIsReady, slot.name.c_str());
        title = Latin1(buffer);
    } else if (remoteMode_ == 0) {
        title = text::kDragDropHere;
    }
    if (CVideoPane* pane = slot.pane.data()) {
        pane->RightTitle()->DrawStateTitle(QString(), 0);
        pane->LeftTitle()->SetTitle(title);
    }
}

void CVyrdaxCtrl::SetChannelStatus(const std::string& text, int channel)
{
    if (text == text::kDisconnected) {
        if (ValidChannel(channel))
            ShowDisconnected(channel);
        return;
    }
    if (receiveStopping_.load())
        return;
    const QString title = Latin1(text);
    auto show = [&](int ch) {
        ChannelSlot& slot = channels_[ch];
        std::lock_guard<std::mutex> lock(slot.titleLock);
        if (CVideoPane* pane = slot.pane.data())
            pane->LeftTitle()->SetTitle(title);
    };
    if (channel == -1) {
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const ChannelSlot& slot = channels_[ch];
            if (slot.pane && slot.displayIndex.load() >= 0 && slot.stopped.load() == 0)
                show(ch);
        }
    } else if (ValidChannel(channel)) {
        show(channel);
    }
}

void CVyrdaxCtrl::UpdateChannelState(int channel, int kind)
{
    if (!ValidChannel(channel))
        return;
    ChannelSlot& slot = channels_[channel];
    int32_t word;
    bool redraw = false;
    bool disconnectAll = false;
    {
        std::lock_guard<std::mutex> lock(statusLock_);
        word = slot.status.load();
        const bool d = word & STATUS_DVR_D, p = word & STATUS_DVR_PLAYBACK;
        auto liveClear = [&] {
            if (d || p) {
                word &= ~(STATUS_DVR_D | STATUS_DVR_PLAYBACK);
                redraw = true;
            }
        };
        switch (kind) {
        case 1:
            if (remoteMode_ == 0)
                liveClear();
            else
                disconnectAll = d;
            break;
        case 2:
            if (!(d && !p)) {
                word = (word | STATUS_DVR_D) & ~STATUS_DVR_PLAYBACK;
                redraw = true;
            }
            break;
        case 5:
            if (remoteMode_ == 0) {
                if (!(p && !d)) {
                    word = (word | STATUS_DVR_PLAYBACK) & ~STATUS_DVR_D;
                    redraw = true;
                }
            } else {
                disconnectAll = d;
            }
            break;
        case 6:
            if (!(d && p)) {
                word |= STATUS_DVR_D | STATUS_DVR_PLAYBACK;
                redraw = true;
            }
            break;
        default: break;
        }
        slot.status = word;
    }
    if (redraw)
        RedrawState(channel, word);
    if (disconnectAll)
        DisConnectSvr(-1);
}

// ---- layout -----------------------------------------------------------------

CellRect CVyrdaxCtrl::CellRectOf(int displayIndex) const
{
    QWidget* host = parentWidget();
    const int w = host ? host->width() : 0;
    const int h = host ? host->height() : 0;
    return ComputeCellRect(layout_, w, h, eventLogMode_, displayIndex);
}

void CVyrdaxCtrl::ReplaceWnd(int16_t displayMode, int16_t next, int16_t selectDispCh, int16_t left, int16_t top,
                             int16_t right, int16_t bottom)
{
    layout_.displayMode = displayMode;
    layout_.firstCell = next;
    layout_.singleCell = selectDispCh;
    layout_.marginLeft = left;
    layout_.marginTop = top;
    layout_.marginRight = right;
    layout_.marginBottom = bottom;
    LayoutPanes();
}

void CVyrdaxCtrl::UpdatePlaceholder(int ch, bool show, const CellRect& rect)
{
    QPointer<QFrame>& holder = placeholders_[ch];
    if (!show || rect.IsEmpty()) {
        if (holder)
            holder->hide();
        return;
    }
    if (!holder) {
        holder = new QFrame(parentWidget());
        holder->setAutoFillBackground(true);
        QPalette palette = holder->palette();
        palette.setColor(QPalette::Window, Qt::black);
        palette.setColor(QPalette::WindowText, CVideoPane::FromColorRef(kUnselectedOutline));
        holder->setPalette(palette);
        holder->setFrameStyle(QFrame::Box | QFrame::Plain);
        holder->setLineWidth(1);
    }
    holder->setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
    holder->show();
    holder->lower();
}

void CVyrdaxCtrl::LayoutPanes()
{
    if (!parentWidget())
        return;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        ChannelSlot& slot = channels_[ch];
        if (CVideoPane* pane = slot.pane.data()) {
            UpdatePlaceholder(ch, false, {});
            const CellRect rect = CellRectOf(slot.displayIndex.load());
            if (rect.IsEmpty()) {
                pane->hide();
            } else {
                pane->setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
                pane->show();
                pane->raise();
                pane->update();
            }
            continue;
        }
        const bool inPage = ch >= layout_.firstCell && ch < layout_.firstCell + layout_.displayMode;
        UpdatePlaceholder(ch, remoteMode_ > 0 && inPage, remoteMode_ > 0 && inPage ? CellRectOf(ch) : CellRect{});
    }
}

bool CVyrdaxCtrl::PointInRect(int16_t idxCh, int32_t x, int32_t y) const
{
    CVideoPane* pane = Pane(idxCh);
    if (!pane)
        return false;
    const QRect global(pane->mapToGlobal(QPoint(0, 0)), pane->size());
    return global.contains(x, y);
}

void CVyrdaxCtrl::SetSelection(int16_t idxCh, int16_t select)
{
    CVideoPane* pane = Pane(idxCh);
    if (!pane || pane->Selected() == (select != 0))
        return;
    pane->SetSelected(select != 0);
    if (select == 1) {
        if (version_ == 0 || version_ == 1)
            pane->DrawBorder(kSelectedOutline);
    } else {
        pane->DrawBorder(kUnselectedOutline);
    }
}

void CVyrdaxCtrl::SetOutlineColor(int32_t color)
{
    outlineColor_ = static_cast<uint32_t>(color);
    update();
}

} // namespace vyrdax
