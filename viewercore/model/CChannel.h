#pragma once
// One channel of a DVR in the site list.
#include "ModelArchive.h"

#include <QString>

class CChannel {
public:
    static constexpr const char* kClassName = "CChannel";
    static constexpr uint16_t kSchema = 1;

    CChannel() = default;
    CChannel(const QString& name, int number) : name(name), number(number) {}

    void Serialize(platform::ArchiveWriter& ar, const ArchiveContext& context) const;
    void Serialize(platform::ArchiveReader& ar, const ArchiveContext& context);

    QString name;
    int32_t number = 0; // 1-based
};
