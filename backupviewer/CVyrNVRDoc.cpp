#include "CVyrNVRDoc.h"

#include "platform/MessageBox.h"
#include "viewercore/shell/ViewerHandOver.h"

CVyrNVRDoc::CVyrNVRDoc(const QString& directory) : data_(ViewerVariant::Backup, directory) {}

void CVyrNVRDoc::OnNewDocument() { data_.OnNewDocument(); }

bool CVyrNVRDoc::SaveAll(QWidget* parent)
{
    const SettingsDocument::SaveReport report = data_.SaveSettingsFiles();
    if (report.reportNow)
        platform::MessageBox(parent, report.message.toStdString(), viewer::kBackupViewerTitle,
                             platform::MB_ICONWARNING);
    return report.ok();
}

CGroup& CVyrNVRDoc::SettingsGroup()
{
    if (!data_.currentGroup) {
        data_.currentGroup = std::make_unique<CGroup>(ViewerVariant::Backup);
        data_.currentGroup->splitMode = 16;
    }
    return *data_.currentGroup;
}
