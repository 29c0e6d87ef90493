#include "CDVR.h"

CDVR::CDVR(const QString& name, int channelType, int deviceKind, const QString& channelNameBase,
           int addressType, const std::array<uint8_t, 4>& octets, int port, int channel,
           int audioMode, const QString& loginId, const QString& password, int savePassword)
    : name(name), channelType(channelType), deviceKind(deviceKind), addressType(addressType),
      octets(octets), port(port), channel(channel), audioMode(audioMode), loginId(loginId),
      password(password), savePassword(savePassword)
{
    addressText = QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    const QString base = channelNameBase.isEmpty() ? name : channelNameBase;
    const int count = GetChannelCount(channelType);
    for (int i = 1; i <= count; ++i)
        channels.push_back(std::make_unique<CChannel>(base + QString::asprintf("-%.2d", i), i));
}

int CDVR::GetChannelCount(int channelType)
{
    static constexpr int kCounts[] = { 1, 4, 9, 17, 33, 49, 65 };
    if (channelType < 0 || channelType >= int(std::size(kCounts)))
        return 0;
    return kCounts[channelType];
}

void CDVR::SetReservedWord(uint32_t word)
{
    reservedA = static_cast<uint16_t>(word);
    reservedB = static_cast<uint16_t>(word >> 16);
}

void CDVR::Serialize(platform::ArchiveWriter& ar, const ArchiveContext& context) const
{
    WriteArchiveString(ar, name);
    ar.WriteI32(channelType);
    ar.WriteI32(addressType);
    WriteArchiveString(ar, addressText);
    ar.WriteBytes(octets.data(), octets.size());
    ar.WriteI32(port);
    ar.WriteI32(audioMode);
    WriteArchiveString(ar, loginId);
    WriteArchiveString(ar, password);
    ar.WriteI32(savePassword);
    WriteObjectList(ar, &channels, context);
    ar.WriteI32(deviceKind);
    switch (context.variant) {
    case ViewerVariant::Backup:
        ar.WriteU32(ReservedWord());
        break;
    case ViewerVariant::Event:
        ar.WriteU16(PollingFlag());
        ar.WriteU16(reservedB);
        break;
    case ViewerVariant::Network:
        ar.WriteU16(reservedA);
        ar.WriteU16(reservedB);
        break;
    }
}

void CDVR::Serialize(platform::ArchiveReader& ar, const ArchiveContext& context)
{
    name = ReadArchiveString(ar);
    channelType = ar.ReadI32();
    addressType = ar.ReadI32();
    addressText = ReadArchiveString(ar);
    ar.ReadBytes(octets.data(), octets.size());
    port = ar.ReadI32();
    audioMode = ar.ReadI32();
    loginId = ReadArchiveString(ar);
    password = ReadArchiveString(ar);
    savePassword = ar.ReadI32();
    channels.clear();
    ReadObjectList(ar, channels, context); // a null list reads as no channels
    deviceKind = ar.ReadI32();
    switch (context.variant) {
    case ViewerVariant::Backup:
        SetReservedWord(ar.ReadU32());
        break;
    case ViewerVariant::Event:
        SetPollingFlag(ar.ReadU16());
        reservedB = ar.ReadU16();
        break;
    case ViewerVariant::Network:
        reservedA = ar.ReadU16();
        reservedB = ar.ReadU16();
        break;
    }
}
