// The DVR link of the control: connection, login, sessions and their end.
#include "CVyrdaxCtrl.h"

#include "StatusTexts.h"
#include "control/link/LinkSettings.h"
#include "platform/MessageBox.h"

#include <chrono>
#include <thread>

namespace vyrdax {

namespace {
constexpr const char* kThreadError = "THREAD ERROR";
} // namespace

std::shared_ptr<CDvrSocket> CVyrdaxCtrl::CurrentSocket() const
{
    std::lock_guard<std::mutex> lock(socketPointerLock_);
    return socket_;
}

bool CVyrdaxCtrl::SendPacket(const DvrPacketHeader& header, const void* payload, std::size_t length)
{
    std::shared_ptr<CDvrSocket> socket = CurrentSocket();
    if (!socket)
        return false;
    // The receive thread's sends end when it is asked to stop.
    const int wakeFd = receiveThread_.IsCurrentThread() ? receiveThread_.WakeFd() : -1;
    bool sent;
    {
        std::lock_guard<std::mutex> lock(sendLock_);
        sent = socket->SendExact(header.bytes.data(), header.bytes.size(), Timeouts().dataMs, wakeFd) &&
               (payload == nullptr || socket->SendExact(payload, length, Timeouts().dataMs, wakeFd));
    }
    if (!sent && socket->Broken())
        NoteBrokenLink(*socket);
    return sent;
}

void CVyrdaxCtrl::NoteBrokenLink(const CDvrSocket& socket)
{
    // Only the session on this connection; a newer one is not touched.
    if (loggedIn_.load() && CurrentSocket().get() == &socket)
        linkDown_ = 1;
}

std::unique_lock<std::recursive_timed_mutex> CVyrdaxCtrl::LockConnect()
{
    std::unique_lock<std::recursive_timed_mutex> guard(connectLock_, std::defer_lock);
    if (!receiveThread_.IsCurrentThread()) {
        guard.lock();
        return guard;
    }
    // The GUI thread may hold the lock while it joins this thread.
    while (!guard.try_lock_for(std::chrono::milliseconds(10)))
        if (receiveThread_.StopRequested())
            break;
    return guard;
}

std::vector<int> CVyrdaxCtrl::AssignedDisplayIndexes() const
{
    std::vector<int> indexes;
    for (int ch = 0; ch < kChannelCount; ++ch)
        if (channels_[ch].assigned.load())
            indexes.push_back(channels_[ch].displayIndex.load());
    return indexes;
}

void CVyrdaxCtrl::SendToDisplayIndexes(const std::vector<int>& indexes, uint32_t message, platform::WPARAM wParam)
{
    for (int index : indexes)
        SendHostMessage(message, wParam, index, &receiveThread_.StopFlag());
}

void CVyrdaxCtrl::SendToAssigned(uint32_t message, platform::WPARAM wParam)
{
    SendToDisplayIndexes(AssignedDisplayIndexes(), message, wParam);
}

bool CVyrdaxCtrl::StartReceiveThread()
{
    if (receiveThread_.Running())
        return true;
    receiveThread_.Start([this](platform::WorkerThread& self) { ReceiveThreadProc(self); });
    return receiveThread_.Running();
}


void CVyrdaxCtrl::CancelPendingConnect()
{
    connectNotifier_.reset();
    connectTimer_.stop();
}

// ---- connecting -------------------------------------------------------------

void CVyrdaxCtrl::ConnectToDvr()
{
    address_ = configuredAddress_;
    if (loggedIn_.load()) {
        linkDown_ = 1;
        reconnectPending_ = 0;
        return;
    }
    reconnectPending_ = 0;
    if (!eventLogMode_) {
        for (int ch = 0; ch < kChannelCount; ++ch) {
            ChannelSlot& slot = channels_[ch];
            slot.firstFrame = 1;
            slot.lastWidth = 0;
            slot.lastHeight = 0;
            if (slot.displayIndex.load() != -1 && slot.stopped.load() == 0)
                SetChannelStatus(text::kTryingConnect, ch);
        }
    }

    CancelPendingConnect();
    auto socket = std::make_shared<CDvrSocket>();
    {
        std::lock_guard<std::mutex> lock(socketPointerLock_);
        if (socket_)
            socket_->Shutdown(); // wakes a read still waiting on the old link
        socket_ = socket;
    }
    const int error = socket->StartConnect(address_, static_cast<uint16_t>(port_));
    if (error != 0) {
        // Reported through the same notice as a connection that failed later.
        platform::PostMessage(this, WM_DVR_SOCKET_CONNECT, static_cast<platform::WPARAM>(error), 0);
        return;
    }
    connectNotifier_ = std::make_unique<QSocketNotifier>(socket->Fd(), QSocketNotifier::Write);
    QObject::connect(connectNotifier_.get(), &QSocketNotifier::activated, this, [this, socket] {
        if (CurrentSocket() != socket)
            return;
        const int result = socket->ConnectResult();
        CancelPendingConnect();
        platform::PostMessage(this, WM_DVR_SOCKET_CONNECT, static_cast<platform::WPARAM>(result), 0);
    });
    connectTimer_.setSingleShot(true);
    // A coarse timer of this length may fire up to a second early.
    connectTimer_.setTimerType(Qt::PreciseTimer);
    QObject::disconnect(&connectTimer_, nullptr, this, nullptr);
    QObject::connect(&connectTimer_, &QTimer::timeout, this, [this, socket] {
        if (CurrentSocket() != socket)
            return;
        CancelPendingConnect();
        socket->Shutdown();
        platform::PostMessage(this, WM_DVR_SOCKET_CONNECT, static_cast<platform::WPARAM>(WSAETIMEDOUT), 0);
    });
    connectTimer_.start(Timeouts().connectMs);
}

void CVyrdaxCtrl::OnSocketConnect(int error)
{
    const bool live = LiveSession();
    const bool liveAndWanted = live && stopped_.load() == 0;
    if (stopped_.load() && !live) {
        return; // the session ended while it was connecting
    }
    if (error == 0) {
        std::shared_ptr<CDvrSocket> socket = CurrentSocket();
        if (!socket) {
            FinishLogin(false, DvrPacketHeader{});
            return;
        }
        const uint32_t kind = eventLogMode_ || remoteMode_ == 1 ? SESSION_KIND_REMOTE : 0;
        RequestLogin(std::move(socket), MakeLoginRequest(loginId_, password_, kind,
                                                         eventLogMode_ ? 0u : static_cast<uint32_t>(audioOption_)));
        return;
    }
    if (error == WSAECONNREFUSED) {
        SetChannelStatus(text::kPortIncorrect, -1);
        if (!live) {
            EndOneShotSession(2, 0);
            if (!eventLogMode_)
                platform::MessageBox(this, text::kPortIncorrect);
        } else if (liveAndWanted) {
            reconnectPending_ = 1;
        }
        return;
    }
    // A time-out, and any failure that leaves a one-shot session without an
    // answer, ends event-log and remote sessions with the time-out notice.
    if (!live) {
        EndOneShotSession(3, 0);
    } else if (liveAndWanted) {
        if (error == WSAETIMEDOUT)
            SetChannelStatus(text::kConnectionTimeout, -1);
        reconnectPending_ = 1;
    }
}

void CVyrdaxCtrl::RequestLogin(std::shared_ptr<CDvrSocket> socket, const DvrPacketHeader& request)
{
    {
        std::lock_guard<std::mutex> lock(loginLock_);
        LoginExchange exchange;
        exchange.socket = std::move(socket);
        exchange.request = request;
        exchange.attempt = ++loginAttempt_;
        loginRequest_ = std::move(exchange);
        loginOutcome_.reset();
    }
    receiveThread_.Wake();
    // The receive thread carries the exchange; it runs whenever a session
    // is wanted, but a host may have stopped it since.
    if (!StartReceiveThread())
        CancelPendingLogin();
}

void CVyrdaxCtrl::CancelPendingLogin()
{
    std::lock_guard<std::mutex> lock(loginLock_);
    ++loginAttempt_;
    loginRequest_.reset();
    loginOutcome_.reset();
}

void CVyrdaxCtrl::ExchangeLogin(platform::WorkerThread& self)
{
    std::optional<LoginExchange> exchange;
    {
        std::lock_guard<std::mutex> lock(loginLock_);
        exchange.swap(loginRequest_);
    }
    if (!exchange)
        return;
    CDvrSocket& socket = *exchange->socket;
    {
        std::lock_guard<std::mutex> lock(sendLock_);
        exchange->answered = socket.SendExact(exchange->request.bytes.data(), exchange->request.bytes.size(),
                                              Timeouts().loginSendMs, self.WakeFd());
    }
    exchange->answered = exchange->answered && socket.ReceiveExact(exchange->reply.bytes.data(),
                                                                   exchange->reply.bytes.size(),
                                                                   Timeouts().loginReplyMs, self.WakeFd());
    if (self.StopRequested())
        return; // the control is ending this thread, and the session with it
    {
        std::lock_guard<std::mutex> lock(loginLock_);
        if (exchange->attempt != loginAttempt_)
            return;
        loginOutcome_ = std::move(exchange);
    }
    platform::PostMessage(this, WM_DVR_LOGIN_EXCHANGED, 0, 0);
}

void CVyrdaxCtrl::OnLoginExchanged()
{
    std::optional<LoginExchange> outcome;
    {
        std::lock_guard<std::mutex> lock(loginLock_);
        if (!loginOutcome_ || loginOutcome_->attempt != loginAttempt_)
            return;
        outcome.swap(loginOutcome_);
    }
    // A newer connection has replaced the one this login went over.
    if (CurrentSocket() != outcome->socket)
        return;
    FinishLogin(outcome->answered, outcome->reply);
}

void CVyrdaxCtrl::FinishLogin(bool answered, const DvrPacketHeader& reply)
{
    const bool live = LiveSession();
    const bool liveAndWanted = live && stopped_.load() == 0;
    if (stopped_.load() && !live)
        return; // the host ended the session while the DVR was answering
    if (!answered) {
        // A DVR that takes the connection but never answers the login
        // is one that does not answer: one-shot sessions end as on a
        // time-out instead of waiting for ever.
        if (!live)
            EndOneShotSession(3, 0);
        else if (liveAndWanted)
            reconnectPending_ = 1;
        return;
    }
    const uint32_t code = reply.Code();
    if (code == LOGIN_REFUSED) {
        if (eventLogMode_) {
            DropLink(1);
            return;
        }
        SetChannelStatus(text::kInvalidLogin, -1);
        if (remoteMode_ > 0) {
            // Told as every other remote session that could not begin, so
            // a host waiting for an answer knows none will come.
            EndOneShotSession(3, 0);
            platform::MessageBox(this, text::kInvalidLogin);
        } else if (liveAndWanted) {
            reconnectPending_ = 1;
        }
        return;
    }
    if (code == LOGIN_ACCEPTED) {
        const uint32_t rightAndSignal = reply.Word(DvrPacketHeader::kRightAndSignal);
        userRight_ = static_cast<int>(rightAndSignal & 0xF);
        videoSignalType_ = static_cast<int>((rightAndSignal >> 16) & 1);
        dvrType_ = static_cast<int>(reply.Word(DvrPacketHeader::kDvrType));
    }
    AddToChannelMask(0); // the new session is told the mask again
    for (int ch = 0; ch < kChannelCount; ++ch) {
        channels_[ch].resynchronise = true;
        channels_[ch].displayRestart = 1;
    }
    sound_->SessionStarted();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Frames the last session left queued are that session's. The receive
    // thread queues nothing until it sees the login, so all it queues from
    // now on is the new session's.
    for (ChannelSlot& slot : channels_) {
        slot.EmptyBeforeLogin();
        NoteRoomInQueue(slot);
    }
    ++loginSerial_;
    loggedIn_ = 1;
    connecting_ = 0;
    linkDown_ = 0;
    reconnectPending_ = 0;
    WakeDisplayThreads();
    receiveThread_.Wake();
    if (eventLogMode_)
        SendToAssigned(WM_VIDEO_PROGRESS, 0);
}

// ---- the channel mask ---------------------------------------------------------

void CVyrdaxCtrl::RequestChannelMask(uint32_t mask)
{
    std::lock_guard<std::mutex> lock(maskLock_);
    channelMask_ = mask;
    ++maskGeneration_;
    maskState_ = 1;
}

void CVyrdaxCtrl::AddToChannelMask(uint32_t bits)
{
    std::lock_guard<std::mutex> lock(maskLock_);
    channelMask_ = channelMask_.load() | bits;
    ++maskGeneration_;
    maskState_ = 1;
}

bool CVyrdaxCtrl::SendPendingChannelMask()
{
    uint32_t mask;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(maskLock_);
        if (maskState_.load() == kMaskStateSent)
            return false;
        mask = channelMask_.load();
        generation = maskGeneration_;
    }
    // Sent outside the lock: a host that asks for channels while a slow
    // DVR takes this packet is not held up by it.
    DvrPacketHeader packet = DvrPacketHeader::Make(PACKET_CONTROL, CONTROL_CHANNEL_MASK);
    packet.SetWord(DvrPacketHeader::kArg1, mask);
    if (!SendPacket(packet))
        return false;
    std::lock_guard<std::mutex> lock(maskLock_);
    if (maskGeneration_ == generation)
        maskState_ = kMaskStateSent;
    return true;
}

bool CVyrdaxCtrl::DropLinkOf(const CDvrSocket& socket, int code, const std::function<void()>& beforeDrop)
{
    int errorIndex;
    {
        std::unique_lock<std::recursive_timed_mutex> guard = LockConnect();
        if (!guard.owns_lock() || CurrentSocket().get() != &socket)
            return false;
        if (beforeDrop)
            beforeDrop();
        errorIndex = LinkErrorIndex();
        DropLink(-1);
    }
    // Told outside the lock: the host may be waiting for it on the GUI thread.
    if (code != -1)
        SendHostMessage(WM_VIDEO_LINK_ERROR, static_cast<platform::WPARAM>(code), errorIndex,
                        &receiveThread_.StopFlag());
    return true;
}

int CVyrdaxCtrl::LinkErrorIndex() const
{
    // The event viewer tells its instances apart by the display index.
    return eventLogMode_ ? channels_[0].displayIndex.load() : 0;
}

void CVyrdaxCtrl::EndOneShotSession(platform::WPARAM eventLogKind, platform::WPARAM remoteKind)
{
    // The session is over before the host hears of it, so a host that
    // starts the next one at once is not undone by the end of this one.
    const std::vector<int> told = AssignedDisplayIndexes();
    const platform::WPARAM kind = eventLogMode_ ? eventLogKind : remoteKind;
    DropLink(-1);
    SendToDisplayIndexes(told, WM_VIDEO_PROGRESS, kind);
}

void CVyrdaxCtrl::OnRemoteLinkLost()
{
    if (!loggedIn_.load() || !linkDown_.load() || remoteMode_ == 0 || eventLogMode_)
        return; // the host has ended the session meanwhile
    // Nothing more goes over the lost connection, so the logout does not
    // wait on it.
    if (std::shared_ptr<CDvrSocket> socket = CurrentSocket())
        socket->Shutdown();
    // The session does not come back: what it recorded ends with its index.
    for (int16_t ch = 0; ch < kChannelCount; ++ch)
        if (IsRecording(ch))
            StopRecord(ch);
    EndOneShotSession(3, 0);
    platform::MessageBox(this, text::kDvrLost);
}

void CVyrdaxCtrl::BeginConnection()
{
    if (stopped_.load()) {
        reconnectPending_ = 0;
        return;
    }
    if (loggedIn_.load())
        return;
    StartSessionConnect();
}

void CVyrdaxCtrl::StartSessionConnect()
{
    if (useLookup_) {
        LookupDvrAddress();
        return;
    }
    std::lock_guard<std::mutex> lock(socketLock_);
    ConnectToDvr();
}

bool CVyrdaxCtrl::Connect(int16_t idxCh)
{
    std::lock_guard<std::recursive_timed_mutex> guard(connectLock_);
    if (idxCh == -1 && remoteMode_ > 0) {
        if (loggedIn_.load())
            return true;
        uint32_t mask = 0;
        for (int ch = 0; ch < 32; ++ch) {
            ChannelSlot& slot = channels_[ch];
            if (slot.displayIndex.load() != -1 && !GetChannelName(static_cast<int16_t>(ch)).empty()) {
                mask |= 1u << ch;
                slot.stopped = 0;
            }
        }
        if (mask == 0)
            return false;
        RequestChannelMask(mask);
        for (int ch = 0; ch < kChannelCount; ++ch) {
            channels_[ch].status = STATUS_LIVE;
            channels_[ch].stopped = 0;
            if (ch < 32 && (mask & (1u << ch)) && !channels_[ch].displayThread.Running()) {
                StartDisplayThread(ch);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        StartReceiveThread();
        stopped_ = 0;
        linkDown_ = 0;
        StartSessionConnect();
        return true;
    }
    if (eventLogMode_) {
        if (loggedIn_.load() || eventSessionOpen_.load())
            return true;
        eventSessionOpen_ = true;
        stopped_ = 0;
        linkDown_ = 0;
        StartReceiveThread();
        StartSessionConnect();
        return true;
    }
    // One DVR serves channels 0..31 through its 32-bit channel mask.
    if (idxCh < 0 || idxCh >= 32)
        return false;
    ChannelSlot& slot = channels_[idxCh];
    if (GetChannelName(idxCh).empty())
        return false;
    const uint32_t bit = 1u << idxCh;
    if (slot.stopped.load() == 1)
        SetChannelStatus(text::kTryingConnect, idxCh);
    if (!loggedIn_.load() && !connecting_.load()) {
        connecting_ = 1;
        slot.status = STATUS_LIVE;
        if (slot.displayIndex.load() != -1 && !slot.displayThread.Running())
            StartDisplayThread(idxCh);
        if (slot.assigned.load())
            slot.stopped = 0;
        RequestChannelMask(bit);
        if (!StartReceiveThread()) {
            platform::MessageBox(this, kThreadError);
            return true;
        }
        stopped_ = 0;
        linkDown_ = 0;
        StartSessionConnect();
    } else {
        slot.status = STATUS_LIVE;
        if (slot.assigned.load() && !slot.displayThread.Running())
            StartDisplayThread(idxCh);
        const bool shown = slot.displayIndex.load() != -1;
        if (shown)
            slot.stopped = 0;
        AddToChannelMask(shown ? bit : 0);
    }
    return true;
}

void CVyrdaxCtrl::ResetChannelDisplay(int ch)
{
    ChannelSlot& slot = channels_[ch];
    std::lock_guard<std::recursive_mutex> lock(slot.displayLock);
    if (CVideoPane* pane = slot.pane.data()) {
        pane->ClearSurface();
        pane->PresentFrame();
    }
}

void CVyrdaxCtrl::DisConnectSvr(int16_t idxCh)
{
    const bool onReceiveThread = receiveThread_.IsCurrentThread();
    std::unique_lock<std::recursive_timed_mutex> guard = LockConnect();
    if (!guard.owns_lock())
        return;
    connecting_ = 0;
    auto clearChannel = [this](int ch) {
        ChannelSlot& slot = channels_[ch];
        slot.status = 0;
        if (slot.pane) {
            slot.pane->RightTitle()->DrawStateTitle(QString(), 0);
            ResetChannelDisplay(ch);
        }
        SetChannelStatus(text::kDisconnected, ch);
    };
    if (eventLogMode_) {
        // Ends the event-log session whether it is logged in or still
        // connecting.
        reconnectPending_ = 0;
        stopped_ = 1;
        eventSessionOpen_ = false;
        if (!onReceiveThread)
            CancelPendingConnect();
        CancelPendingLogin();
        Logout();
        return;
    }
    if (idxCh == -1) {
        if (remoteMode_ > 0) {
            if (loggedIn_.load()) {
                for (int ch = 0; ch < kChannelCount; ++ch)
                    if (channels_[ch].assigned.load() && recorder_->FinishAvi(ch))
                        channels_[ch].stopped = 1;
                {
                    // Nothing is asked for any more: the logout says it all.
                    std::lock_guard<std::mutex> lock(maskLock_);
                    channelMask_ = 0;
                    ++maskGeneration_;
                    maskState_ = kMaskStateSent;
                }
                reconnectPending_ = 0;
                stopped_ = 1;
                Logout();
                for (int ch = 0; ch < kChannelCount; ++ch)
                    if (channels_[ch].pane)
                        clearChannel(ch);
            }
        } else if (loggedIn_.load()) {
            Logout();
        }
        return;
    }
    if (!ValidChannel(idxCh))
        return;
    ChannelSlot& slot = channels_[idxCh];
    // Its open AVI file is finished here: no frame of it will ask any more.
    recorder_->FinishAvi(idxCh);
    if (loggedIn_.load()) {
        reconnectPending_ = 0;
        slot.stopped = 1;
        uint32_t mask = 0;
        for (int ch = 0; ch < 32; ++ch)
            if (channels_[ch].assigned.load() && channels_[ch].stopped.load() == 0)
                mask |= 1u << ch;
        RequestChannelMask(mask);
        if (mask == 0) {
            stopped_ = 1;
            reconnectPending_ = 0;
            Logout();
        }
        SendHostMessage(WM_VIDEO_DISCONNECTED, 0, slot.displayIndex.load(),
                        onReceiveThread ? &receiveThread_.StopFlag() : nullptr);
    } else {
        slot.stopped = 1;
        bool anyWanted = false;
        for (int ch = 0; ch < kChannelCount; ++ch)
            anyWanted = anyWanted || (channels_[ch].assigned.load() && channels_[ch].stopped.load() == 0);
        if (!anyWanted) {
            // Nothing is wanted any more: a connection in progress is dropped.
            stopped_ = 1;
            reconnectPending_ = 0;
            if (!onReceiveThread)
                CancelPendingConnect();
            CancelPendingLogin();
        }
    }
    clearChannel(idxCh);
}

void CVyrdaxCtrl::DisconnectBackup()
{
    stopped_ = 1;
    reconnectPending_ = 0;
    if (loggedIn_.load())
        Logout();
    timeListFlag_ = 0;
    SetRemoteMode(1);
}

bool CVyrdaxCtrl::isConnect(int16_t idxCh) const
{
    if (eventLogMode_)
        return loggedIn_.load() || eventSessionOpen_.load();
    if (!loggedIn_.load() || !ValidChannel(idxCh))
        return false;
    // A link known to be down is not connected, even in the moment before
    // its session ends: a host that has just sent a command learns from
    // this that it did not go out.
    if (linkDown_.load())
        return false;
    return channels_[idxCh].stopped.load() == 0;
}

void CVyrdaxCtrl::Logout()
{
    timers_.KillTimer(kLookupTimerId);
    if (!loggedIn_.load())
        return;
    const DvrPacketHeader logout = DvrPacketHeader::Make(PACKET_SESSION, SESSION_LOGOUT);
    SendPacket(logout);
    userRight_ = 0;
    loggedIn_ = 0;
    linkDown_ = 0;
    if (LiveSession() && stopped_.load() == 0)
        reconnectPending_ = 1;
    // A receive thread waiting on the lost remote link leaves that wait.
    if (!receiveThread_.IsCurrentThread())
        receiveThread_.Wake();
}

void CVyrdaxCtrl::DropLink(int code)
{
    stopped_ = 1;
    reconnectPending_ = 0;
    const bool onReceiveThread = receiveThread_.IsCurrentThread();
    const int errorIndex = LinkErrorIndex();
    if (loggedIn_.load())
        DisConnectSvr(-1);
    if (remoteMode_ > 0 && !eventLogMode_) {
        // Whether it logged in or not, the session is over: no channel is
        // left live, with a pane or without.
        for (ChannelSlot& slot : channels_)
            slot.status = 0;
    }
    if (eventLogMode_) {
        eventSessionOpen_ = false;
        if (loggedIn_.load())
            Logout();
        ClearInfo(0);
    } else {
        SetRemoteMode(1);
    }
    timeListFlag_ = 0;
    // Told only now that the link is down: a host that answers with the next
    // poll on this instance must find the old session gone.
    if (code != -1)
        SendHostMessage(WM_VIDEO_LINK_ERROR, static_cast<platform::WPARAM>(code), errorIndex,
                        onReceiveThread ? &receiveThread_.StopFlag() : nullptr);
}

void CVyrdaxCtrl::SetEventInfo(const std::string& dvrName, const std::string& id, const std::string& pwd,
                               const std::string& addr, int16_t port, int16_t idxDisp, int16_t idxPolling,
                               int32_t time)
{
    // Under the connect lock, so a session that the receive thread is still
    // dropping cannot unbind the channel set up here.
    std::lock_guard<std::recursive_timed_mutex> guard(connectLock_);
    if (loggedIn_.load() || eventSessionOpen_.load()) {
        eventLogMode_ = true;
        DisConnectSvr(0);
    }
    eventLogMode_ = true;
    SetRemoteMode(0);
    if (!eventTable_) {
        eventTable_.reset(new uint8_t[4 + static_cast<std::size_t>(kMaxEventRecords) * kEventRecordSize]);
        WriteLE32(eventTable_.get(), 0);
    }
    storedTime_ = static_cast<std::time_t>(static_cast<uint32_t>(time));
    ChannelSlot& slot = channels_[0];
    slot.assigned = true;
    {
        std::lock_guard<std::mutex> names(slot.titleLock);
        slot.name = dvrName;
    }
    slot.displayIndex = idxDisp;
    loginId_ = id;
    password_ = pwd;
    configuredAddress_ = addr;
    useLookup_ = addr.empty();
    port_ = static_cast<uint16_t>(port);
    pollingIndex_ = idxPolling;
    recordMode_ = 0;
    audioOption_ = 0;
    StartReceiveThread();
}

} // namespace vyrdax
