#include "SiteRoutines.h"

#include <algorithm>
#include <cstring>

namespace site {

namespace {

constexpr int kNarrowNameLength = 260;

template <typename T, typename Match>
T* FindFirst(ObjectList<T>& list, Match match)
{
    for (auto& item : list)
        if (item && match(*item))
            return item.get();
    return nullptr;
}

template <typename T, typename Match>
bool EraseFirst(ObjectList<T>& list, Match match)
{
    const auto it = std::find_if(list.begin(), list.end(), [&](const auto& item) { return item && match(*item); });
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

template <typename T>
T* InsertInNameOrder(ObjectList<T>& list, std::unique_ptr<T> item)
{
    if (!item)
        return nullptr;
    const auto it = std::find_if(list.begin(), list.end(), [&](const auto& existing) {
        return existing && CompareNarrowNames(existing->name, item->name) > 0;
    });
    return list.insert(it, std::move(item))->get();
}

} // namespace

QByteArray NarrowName(const QString& name)
{
    QByteArray narrow;
    const int length = std::min<int>(name.size(), kNarrowNameLength);
    narrow.reserve(length);
    for (int i = 0; i < length; ++i) {
        const char byte = static_cast<char>(name.at(i).unicode() & 0xFF);
        if (byte == 0)
            break;
        narrow.append(byte);
    }
    return narrow;
}

int CompareNarrowNames(const QString& a, const QString& b)
{
    const QByteArray left = NarrowName(a);
    const QByteArray right = NarrowName(b);
    // memcmp compares as unsigned bytes, as strcmp does.
    const int common = std::min(left.size(), right.size());
    const int order = common > 0 ? std::memcmp(left.constData(), right.constData(), size_t(common)) : 0;
    if (order != 0)
        return order;
    return left.size() < right.size() ? -1 : (left.size() > right.size() ? 1 : 0);
}

CDVR* FindDvr(SettingsDocument& document, const QString& name)
{
    return FindFirst(document.deviceList, [&](const CDVR& dvr) { return dvr.name == name; });
}

CChannel* FindChannel(CDVR& dvr, const QString& name)
{
    return FindFirst(dvr.channels, [&](const CChannel& channel) { return channel.name == name; });
}

CGroup* FindGroup(SettingsDocument& document, const QString& name)
{
    return FindFirst(document.groupList, [&](const CGroup& group) { return group.name == name; });
}

CCamera* FindCamera(CGroup& group, const QString& channelName)
{
    if (!group.cameras)
        return nullptr;
    return FindFirst(*group.cameras, [&](const CCamera& camera) { return camera.channelName == channelName; });
}

bool IsNameFree(SettingsDocument& document, const QString& dvrName, const QString& channelName, NameCheck check)
{
    CDVR* dvr = FindDvr(document, dvrName);
    if (check == NameCheck::Device)
        return dvr == nullptr;
    return dvr != nullptr && FindChannel(*dvr, channelName) == nullptr;
}

bool HasOnlyNameCharacters(const QString& name)
{
    const QString trimmed = name.trimmed();
    return std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_' || u == '-';
    });
}

CDVR* AddDvr(SettingsDocument& document, std::unique_ptr<CDVR> dvr)
{
    return InsertInNameOrder(document.deviceList, std::move(dvr));
}

CGroup* AddGroup(SettingsDocument& document, std::unique_ptr<CGroup> group)
{
    return InsertInNameOrder(document.groupList, std::move(group));
}

CGroup* StoreCurrentGroup(SettingsDocument& document)
{
    CGroup* current = document.currentGroup.get();
    if (!current)
        return nullptr;
    if (current->cameras)
        for (auto& camera : *current->cameras)
            if (camera)
                camera->groupName = current->name;
    return AddGroup(document, CGroup::CopyFrom(*current, false));
}

bool RemoveDvrByName(SettingsDocument& document, const QString& name)
{
    return EraseFirst(document.deviceList, [&](const CDVR& dvr) { return dvr.name == name; });
}

bool RemoveChannel(SettingsDocument& document, const QString& dvrName, const QString& channelName)
{
    CDVR* dvr = FindDvr(document, dvrName);
    if (!dvr)
        return false;
    return EraseFirst(dvr->channels, [&](const CChannel& channel) { return channel.name == channelName; });
}

bool RemoveGroupByName(SettingsDocument& document, const QString& name)
{
    return EraseFirst(document.groupList, [&](const CGroup& group) { return group.name == name; });
}

int RemoveCamera(SettingsDocument& document, const QString& groupName, const QString& channelName)
{
    CGroup* group = FindGroup(document, groupName);
    if (!group || !group->cameras)
        return -1;
    auto& cameras = *group->cameras;
    const auto it = std::find_if(cameras.begin(), cameras.end(),
                                 [&](const auto& camera) { return camera && camera->channelName == channelName; });
    if (it == cameras.end())
        return -1;
    const int cell = (*it)->cell;
    cameras.erase(it);
    return cell;
}

} // namespace site
