#include "CVyrNVRDoc.h"

#include "platform/MessageBox.h"

CVyrNVRDoc::CVyrNVRDoc(const QString& directory) : data_(ViewerVariant::Network, directory) {}

void CVyrNVRDoc::OnNewDocument() { data_.OnNewDocument(); }

bool CVyrNVRDoc::SaveAll(QWidget* parent)
{
    const SettingsDocument::SaveReport report = data_.SaveSettingsFiles();
    if (report.reportNow)
        platform::MessageBox(parent, report.message.toStdString(), "Network Viewer", platform::MB_ICONWARNING);
    return report.ok();
}

CDVR* CVyrNVRDoc::FindDvr(const QString& name)
{
    for (auto& dvr : data_.deviceList)
        if (dvr && dvr->name == name)
            return dvr.get();
    return nullptr;
}

CGroup* CVyrNVRDoc::FindGroup(const QString& name)
{
    for (auto& group : data_.groupList)
        if (group && group->name == name)
            return group.get();
    return nullptr;
}

bool CVyrNVRDoc::RemoveDvr(const QString& name)
{
    auto& list = data_.deviceList;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it && (*it)->name == name) {
            list.erase(it);
            return true;
        }
    return false;
}

bool CVyrNVRDoc::RemoveChannel(const QString& dvrName, const QString& channelName)
{
    CDVR* dvr = FindDvr(dvrName);
    if (!dvr)
        return false;
    for (auto it = dvr->channels.begin(); it != dvr->channels.end(); ++it)
        if (*it && (*it)->name == channelName) {
            dvr->channels.erase(it);
            return true;
        }
    return false;
}

bool CVyrNVRDoc::RemoveGroup(const QString& name)
{
    auto& list = data_.groupList;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it && (*it)->name == name) {
            list.erase(it);
            return true;
        }
    return false;
}
