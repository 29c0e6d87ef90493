#pragma once
// Captions and messages of the save-group dialog.

namespace dialogtext {

inline constexpr const char* kMessageCaption = "Network Viewer";

inline constexpr const char* kSaveGroupCaption = "Save Group";
inline constexpr const char* kNewGroup = "New Group";
inline constexpr const char* kOverwrite = "Overwite";
inline constexpr const char* kEnterGroupName = "Please enter group name.";
inline constexpr const char* kGroupNameExists = "The name \"%s\" already exists. Try another name.";

} // namespace dialogtext
