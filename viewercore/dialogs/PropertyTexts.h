#pragma once
// Captions, labels and messages of the property dialog.

namespace dialogtext {

inline constexpr const char* kPropertyCaption = "Property Dialog";
inline constexpr const char* kAddDvrCaption = "Add DVR";
inline constexpr const char* kDvrNameLabel = "DVR Name";
// The leading blanks right-align the label over the field.
inline constexpr const char* kDeviceNameLabels[] = { "           DVR Name", "   IP Camera Name", "Video Server Name" };
inline constexpr const char* kGroupNameLabel = "Group Name";
inline constexpr const char* kChannelTypes[] = { "1 channel", "4 channels", "8 channels", "16 channels" };
inline constexpr const char* kDefaultLoginId = "Guest";
inline constexpr int kDefaultPort = 9310;
inline constexpr int kDefaultChannelNumber = 1;

inline constexpr const char* kEnterDvrName = "Please, enter DVR Name!";
inline constexpr const char* kEnterAnotherName = "Please enter another name";
inline constexpr const char* kNameRule =
    "You can use only letters, numbers, hyphens (-), and underscores (_).\r\n"
    "Special characters or accented letters are not allowed.";
inline constexpr const char* kPortRange = "Please enter a port number between 1 and 65535.";
inline constexpr const char* kChannelRange = "Please enter a channel number between %d and %d.";

} // namespace dialogtext
