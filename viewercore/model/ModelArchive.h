#pragma once
// How the site model goes into the settings archives: the context records see
// while archived, strings, and owned lists of objects.
#include "ViewerVariant.h"

#include "platform/Archive.h"

#include <QString>

#include <memory>
#include <vector>

// What the records of the site model need to know while they are archived:
// which viewer's copy of a class is at work, and the stamp of the file.
struct ArchiveContext {
    ViewerVariant variant = ViewerVariant::Network;
    uint32_t stamp = kSettingsStampNetwork;
};

inline void WriteArchiveString(platform::ArchiveWriter& ar, const QString& text)
{
    ar.WriteString(text.toStdU16String());
}

inline QString ReadArchiveString(platform::ArchiveReader& ar)
{
    return QString::fromStdU16String(ar.ReadString());
}

// An owned list, written as a "CObList" object: a count, then each element in
// the object form of its own class.
template <class T>
using ObjectList = std::vector<std::unique_ptr<T>>;

inline constexpr const char* kObListClassName = "CObList";
inline constexpr uint16_t kObListSchema = 0;

// A missing list (null) is written as the null tag.
template <class T>
void WriteObjectList(platform::ArchiveWriter& ar, const ObjectList<T>* list, const ArchiveContext& context)
{
    if (!list) {
        ar.WriteNullObject();
        return;
    }
    if (!ar.WriteObjectTag(list, kObListClassName, kObListSchema))
        return;
    ar.WriteCount(static_cast<uint32_t>(list->size()));
    for (const auto& element : *list) {
        if (ar.WriteObjectTag(element.get(), T::kClassName, T::kSchema))
            element->Serialize(ar, context);
    }
}

// Appends each element to `out` once it has been read whole, so that a damaged
// archive leaves the elements before the damage. Returns false for the null
// tag (no list). Null elements are skipped: the lists never hold them.
template <class T>
bool ReadObjectList(platform::ArchiveReader& ar, ObjectList<T>& out, const ArchiveContext& context)
{
    if (!ar.ReadObjectTag(kObListClassName, kObListSchema))
        return false;
    const uint32_t count = ar.ReadCount(2); // each element has at least its tag
    for (uint32_t i = 0; i < count; ++i) {
        if (!ar.ReadObjectTag(T::kClassName, T::kSchema))
            continue;
        auto element = std::make_unique<T>();
        element->Serialize(ar, context);
        out.push_back(std::move(element));
    }
    return true;
}
