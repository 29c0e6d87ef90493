// The address lookup client: finds a DVR's address from its ID.
#include "CVyrdaxCtrl.h"

#include "StatusTexts.h"
#include "control/link/LinkSettings.h"
#include "platform/MessageBox.h"

namespace vyrdax {

namespace {
constexpr int kBusyRetryMs = 1000;
} // namespace

void CVyrdaxCtrl::LookupDvrAddress()
{
    lookupSocket_.SetNotify(this, WM_LOOKUP_CONNECT, WM_LOOKUP_CLOSE, WM_LOOKUP_RECEIVE);
    lookupSocket_.Close();
    if (lookupSocket_.CreateSocket())
        lookupSocket_.Connect(LookupHost(), LookupPort());
    timers_.SetTimer(kLookupTimerId, Timeouts().lookupRetryMs);
}

void CVyrdaxCtrl::OnLookupConnect()
{
    lookupSocket_.SendPacket(BuildDvrAddressRequest(loginId_, password_));
}

void CVyrdaxCtrl::OnLookupReceive()
{
    uint8_t buffer[kLookupBufferSize] = {};
    const bool ok = lookupSocket_.ReceivePacket(buffer, true);
    lookupSocket_.Close();
    if (!ok)
        return; // the timer tries again
    const LookupHeader h = ReadLookupHeader(buffer);
    switch (h.error) {
    case LOOKUP_OK: break;
    case LOOKUP_BAD_PASSWORD:
        SetChannelStatus(text::kBadPw, -1);
        timers_.KillTimer(kLookupTimerId);
        return;
    case LOOKUP_BUSY:
        SetChannelStatus(text::kBusy, -1);
        // Asks again a second later without holding the GUI thread.
        QTimer::singleShot(kBusyRetryMs, this, [this] {
            if (!stopped_.load() && !loggedIn_.load())
                LookupDvrAddress();
        });
        return;
    case LOOKUP_NO_ID:
        SetChannelStatus(text::kNoId, -1);
        timers_.KillTimer(kLookupTimerId);
        return;
    case LOOKUP_NOT_READY:
        SetChannelStatus(text::kError, -1);
        timers_.KillTimer(kLookupTimerId);
        return;
    default: return;
    }
    LookupAddress found;
    if (!ParseDvrAddressReply(buffer + kLookupHeaderSize, h.length, &found))
        return; // not a usable answer: the timer tries again
    timers_.KillTimer(kLookupTimerId);
    configuredAddress_ = found.address;
    port_ = found.port;
    std::lock_guard<std::mutex> lock(socketLock_);
    ConnectToDvr();
}

} // namespace vyrdax
