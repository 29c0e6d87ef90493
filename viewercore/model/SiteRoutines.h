#pragma once
// Operations on the document's device and group lists by name. Every name
// comparison is exact and case-sensitive; "first" means list order.
#include "viewercore/model/SettingsDocument.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace site {

// The 8-bit form of a name the lists are ordered by: each UTF-16 unit cut to
// its low byte, at most 260 of them, ending like a C string at a zero byte.
QByteArray NarrowName(const QString& name);
// Byte-by-byte comparison of the narrow forms (<0, 0, >0).
int CompareNarrowNames(const QString& a, const QString& b);

CDVR* FindDvr(SettingsDocument& document, const QString& name);
CChannel* FindChannel(CDVR& dvr, const QString& name);
CGroup* FindGroup(SettingsDocument& document, const QString& name);
CCamera* FindCamera(CGroup& group, const QString& channelName);

enum class NameCheck { Device = 0, Channel = 1 };
// Device: no DVR has that name. Channel: the DVR exists and has no channel of
// that name.
bool IsNameFree(SettingsDocument& document, const QString& dvrName, const QString& channelName, NameCheck check);

// Letters A-Z and a-z, digits, '_' and '-' only, leading and trailing white
// space ignored; an empty name passes.
bool HasOnlyNameCharacters(const QString& name);

// Inserts before the first entry whose name orders after the new one.
CDVR* AddDvr(SettingsDocument& document, std::unique_ptr<CDVR> dvr);
CGroup* AddGroup(SettingsDocument& document, std::unique_ptr<CGroup> group);

// The document half of saving the current screen as a group: every camera of
// the current group takes its group's name, and a deep copy goes into the
// group list in name order. Returns the copy, or null without a current group.
CGroup* StoreCurrentGroup(SettingsDocument& document);

// Each returns whether something was removed (and deleted).
bool RemoveDvrByName(SettingsDocument& document, const QString& name);
bool RemoveChannel(SettingsDocument& document, const QString& dvrName, const QString& channelName);
bool RemoveGroupByName(SettingsDocument& document, const QString& name);
// The removed camera's cell index, or -1 when nothing matched.
int RemoveCamera(SettingsDocument& document, const QString& groupName, const QString& channelName);

} // namespace site
