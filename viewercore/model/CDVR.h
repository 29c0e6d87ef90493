#pragma once
// One DVR (or IP camera or video server) of the site list, with its channels.
#include "CChannel.h"
#include "ModelArchive.h"

#include <QString>

#include <array>

class CDVR {
public:
    static constexpr const char* kClassName = "CDVR";
    static constexpr uint16_t kSchema = 1;

    enum DeviceKind { DeviceDVR = 0, DeviceIPCamera = 1, DeviceVideoServer = 2 };
    enum AddressType { AddressFixed = 0, AddressLookup = 1 };

    // For the archive: empty strings, no channels.
    CDVR() = default;
    // A new device with GetChannelCount(channelType) channels named
    // "<base>-01".., the base being channelNameBase or else the device name.
    CDVR(const QString& name, int channelType, int deviceKind, const QString& channelNameBase,
         int addressType, const std::array<uint8_t, 4>& octets, int port, int channel,
         int audioMode, const QString& loginId, const QString& password, int savePassword);

    // Number of channel entries by channel type: one more than the video
    // channels from type 2 on; 0 for an unknown type.
    static int GetChannelCount(int channelType);

    // The same four bytes as the backup viewer reads them: reserved A in the
    // low half, reserved B in the high half.
    uint32_t ReservedWord() const { return reservedA | (uint32_t(reservedB) << 16); }
    void SetReservedWord(uint32_t word);
    // The event viewer keeps its DVR check box in reserved A.
    uint16_t PollingFlag() const { return reservedA; }
    void SetPollingFlag(uint16_t flag) { reservedA = flag; }

    void Serialize(platform::ArchiveWriter& ar, const ArchiveContext& context) const;
    void Serialize(platform::ArchiveReader& ar, const ArchiveContext& context);

    QString name;
    int32_t channelType = 0;
    int32_t deviceKind = DeviceDVR;
    int32_t addressType = AddressFixed;
    QString addressText;
    std::array<uint8_t, 4> octets{};
    int32_t port = 0;
    int32_t channel = 0; // typed in the property dialog; not stored
    int32_t audioMode = 0; // 0 disabled, 1 listen, 2 two-way
    QString loginId;
    QString password;
    int32_t savePassword = 0;
    ObjectList<CChannel> channels;
    uint16_t reservedA = 0;
    uint16_t reservedB = 0;
};
