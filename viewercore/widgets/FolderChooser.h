#pragma once
// The folder chooser of the viewers' setup dialogs: the shell's folder
// browser titled "Please choose a folder.", starting at a given folder.
#include <QString>

#include <functional>

class QWidget;

inline constexpr const char* kChooseFolderTitle = "Please choose a folder.";

// True with the chosen folder in `chosen`; false (and `chosen` emptied) when
// the operator cancels.
bool BrowseForFolder(QWidget* owner, const QString& initialFolder, QString* chosen);

// Replaces the browser (tests answer without a dialog); an empty function
// restores it. Returns the previous one. The handler returns the chosen
// folder, or an empty text for a cancel.
using FolderChooserHandler =
    std::function<QString(QWidget* owner, const QString& title, const QString& initialFolder)>;
FolderChooserHandler SetFolderChooserHandler(FolderChooserHandler handler);
