#pragma once
// The monitor's view of the hidden control instances it polls through, one
// per slot; the main view lends its instances, tests lend fakes.
#include "viewercore/dvyrdax/CDVyrdax.h"

#include <QString>

class PollingInstances {
public:
    static constexpr int kSlots = 16;

    virtual ~PollingInstances() = default;
    virtual void SetEventInfo(int slot, const QString& dvrName, const QString& id, const QString& pwd,
                              const QString& addr, short port, short idxDisp, short idxPolling, long time) = 0;
    virtual void Connect(int slot) = 0;
    virtual DVyrdaxTable GetEventData(int slot) = 0;
    virtual bool isConnect(int slot) = 0;
    virtual void DisConnectSvr(int slot) = 0;
    virtual void ClearInfo(int slot) = 0;
    virtual void CmdToDVR(int slot, long command, long index) = 0;
};
