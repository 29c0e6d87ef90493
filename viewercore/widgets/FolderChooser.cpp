#include "FolderChooser.h"

#include <QFileDialog>

namespace {

FolderChooserHandler& Handler()
{
    static FolderChooserHandler handler;
    return handler;
}

} // namespace

bool BrowseForFolder(QWidget* owner, const QString& initialFolder, QString* chosen)
{
    const QString folder = Handler() ? Handler()(owner, kChooseFolderTitle, initialFolder)
                                     : QFileDialog::getExistingDirectory(owner, kChooseFolderTitle, initialFolder);
    *chosen = folder;
    return !folder.isEmpty();
}

FolderChooserHandler SetFolderChooserHandler(FolderChooserHandler handler)
{
    FolderChooserHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
