#include "CChannel.h"

void CChannel::Serialize(platform::ArchiveWriter& ar, const ArchiveContext&) const
{
    WriteArchiveString(ar, name);
    ar.WriteI32(number);
}

void CChannel::Serialize(platform::ArchiveReader& ar, const ArchiveContext&)
{
    name = ReadArchiveString(ar);
    number = ar.ReadI32();
}
