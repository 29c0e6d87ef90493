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
