#pragma once
// One cell of a group, bound to one channel of one device. It carries its own
// copy of the device's connection fields so a group connects without the
// device list.
#include "ModelArchive.h"

#include <QString>

#include <array>
#include <memory>

class CChannel;
class CDVR;

class CCamera {
public:
    static constexpr const char* kClassName = "CCamera";
    static constexpr uint16_t kSchema = 1;
    static constexpr int kCellCount = 64;

    CCamera() = default;
    // A camera for one channel of a device, bound to `cell`, with the
    // device's connection fields and no group yet.
    static std::unique_ptr<CCamera> ForChannel(const CDVR& dvr, const CChannel& channel, int cell);

    // Every field but the group name, which stays empty.
    void CopyFrom(const CCamera& source);

    // The group name is written by the network and backup viewers' copy, and
    // read only from files stamped after 20080501. The event viewer's copy
    // has no group name.
    void Serialize(platform::ArchiveWriter& ar, const ArchiveContext& context) const;
    void Serialize(platform::ArchiveReader& ar, const ArchiveContext& context);

    QString groupName;
    QString deviceName;
    int32_t deviceKind = 0;
    QString channelName;
    int32_t channelType = 0;
    int32_t addressType = 0;
    QString addressText;
    std::array<uint8_t, 4> octets{};
    int32_t port = 0;
    int32_t channelNumber = 0;
    int32_t audioMode = 0;
    int32_t cell = 0; // 0..63
    QString loginId;
    QString password;
    int32_t savePassword = 0;
};
