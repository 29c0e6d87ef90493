#include "CCamera.h"

#include "CDVR.h"

void CCamera::CopyFrom(const CCamera& source)
{
    *this = source;
    groupName.clear();
}

void CCamera::Serialize(platform::ArchiveWriter& ar, const ArchiveContext& context) const
{
    WriteArchiveString(ar, deviceName);
    WriteArchiveString(ar, channelName);
    ar.WriteI32(channelType);
    ar.WriteI32(addressType);
    WriteArchiveString(ar, addressText);
    ar.WriteBytes(octets.data(), octets.size());
    ar.WriteI32(port);
    ar.WriteI32(audioMode);
    WriteArchiveString(ar, loginId);
    WriteArchiveString(ar, password);
    ar.WriteI32(savePassword);
    ar.WriteI32(channelNumber);
    ar.WriteI32(cell);
    ar.WriteI32(deviceKind);
    if (context.variant != ViewerVariant::Event)
        WriteArchiveString(ar, groupName);
}

void CCamera::Serialize(platform::ArchiveReader& ar, const ArchiveContext& context)
{
    deviceName = ReadArchiveString(ar);
    channelName = ReadArchiveString(ar);
    channelType = ar.ReadI32();
    addressType = ar.ReadI32();
    addressText = ReadArchiveString(ar);
    ar.ReadBytes(octets.data(), octets.size());
    port = ar.ReadI32();
    audioMode = ar.ReadI32();
    loginId = ReadArchiveString(ar);
    password = ReadArchiveString(ar);
    savePassword = ar.ReadI32();
    channelNumber = ar.ReadI32();
    cell = ar.ReadI32();
    // Cells index the view's 64-entry tables.
    if (cell < 0 || cell >= kCellCount)
        throw platform::ArchiveException(platform::ArchiveException::BadValue, "camera cell out of range");
    deviceKind = ar.ReadI32();
    groupName.clear();
    if (context.variant != ViewerVariant::Event && context.stamp > kSettingsStampEvent)
        groupName = ReadArchiveString(ar);
}

std::unique_ptr<CCamera> CCamera::ForChannel(const CDVR& dvr, const CChannel& channel, int cell)
{
    auto camera = std::make_unique<CCamera>();
    camera->deviceName = dvr.name;
    camera->deviceKind = dvr.deviceKind;
    camera->channelName = channel.name;
    camera->channelType = dvr.channelType;
    camera->addressType = dvr.addressType;
    camera->addressText = dvr.addressText;
    camera->octets = dvr.octets;
    camera->port = dvr.port;
    camera->channelNumber = channel.number;
    camera->audioMode = dvr.audioMode;
    camera->cell = cell;
    camera->loginId = dvr.loginId;
    camera->password = dvr.password;
    camera->savePassword = dvr.savePassword;
    return camera;
}
