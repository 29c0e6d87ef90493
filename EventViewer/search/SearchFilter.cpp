#include "SearchFilter.h"

namespace {

bool ChannelsMatch(const SearchFilter& f, const EventRecord& r)
{
    return (r.channelMask & f.channelMask) != 0;
}

bool KindMatches(uint8_t wanted, uint8_t kind)
{
    return wanted == kAnyKind || wanted == kind;
}

} // namespace

uint32_t SearchedClasses(const SearchFilter& f)
{
    auto bit = [](uint16_t eventClass) { return 1u << (eventClass - kClassMenuChange); };
    uint32_t classes = 0;
    if (f.motion || f.sensor || f.videoLoss)
        classes |= bit(kClassCamera);
    if (f.recordStart || f.recordStop)
        classes |= bit(kClassRecord);
    if (f.powerOn || f.powerOff)
        classes |= bit(kClassPower);
    if (f.menuChange)
        classes |= bit(kClassMenuChange);
    if (f.networkConnect)
        classes |= bit(kClassNetworkConnect);
    return classes;
}

bool PassesTypeFilters(const SearchFilter& f, const EventRecord& r)
{
    switch (r.eventClass) {
    case kClassCamera:
        if (!ChannelsMatch(f, r))
            return false;
        return (f.videoLoss && r.subKind == 1) || (f.motion && r.subKind == 2) || (f.sensor && r.subKind == 3);
    case kClassRecord:
        if (f.recordStart && r.action == kActionRecordStart && ChannelsMatch(f, r) &&
            KindMatches(f.recordStartKind, r.subKind))
            return true;
        // Record-stop events carry no channels worth testing.
        return f.recordStop && r.action == kActionRecordStop && KindMatches(f.recordStopKind, r.subKind);
    case kClassPower:
        return (f.powerOn && r.subKind == 10) || (f.powerOff && r.subKind == 11);
    case kClassMenuChange:
        return f.menuChange && (f.menuKind == kAnyKind || (f.menuKind == kMenuFromNetwork && r.subKind == 1) ||
                                (f.menuKind == kMenuAtDvr && r.subKind != 1));
    case kClassNetworkConnect: {
        if (!f.networkConnect)
            return false;
        const bool userMatches = f.userKind == kAnyKind || (f.userKind == kUserAdmin && r.userClass == 15) ||
                                 (f.userKind == kUserOther && r.userClass != 15);
        if (!userMatches)
            return false;
        return f.address[0] == -1 || (f.address[0] == r.subKind && f.address[1] == r.action &&
                                      f.address[2] == r.address3 && f.address[3] == r.address4);
    }
    default:
        return false;
    }
}
