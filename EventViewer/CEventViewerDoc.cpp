#include "CEventViewerDoc.h"

#include "platform/MessageBox.h"
#include "viewercore/shell/ViewerHandOver.h"

CVyrNVRDoc::CVyrNVRDoc(const QString& directory) : data_(ViewerVariant::Event, directory) {}

void CVyrNVRDoc::OnNewDocument() { data_.OnNewDocument(); }

bool CVyrNVRDoc::SaveSettingsFiles(QWidget* parent)
{
    const SettingsDocument::SaveReport report = data_.SaveSettingsFiles();
    if (report.reportNow)
        platform::MessageBox(parent, report.message.toStdString(), viewer::kEventViewerTitle,
                             platform::MB_ICONWARNING);
    return report.ok();
}
