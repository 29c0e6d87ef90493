#pragma once
// Texts the control shows in a pane's title bar.
namespace vyrdax::text {

inline constexpr const char* kDisconnected = "Disconnected";
inline constexpr const char* kTryingConnect = "Trying connect to DVR...";
inline constexpr const char* kConnectCompleted = "Connect Completed";
inline constexpr const char* kRequestDisconnect = "Request Disconnect...";
inline constexpr const char* kConnectionTimeout = "Connection Timeout!";
inline constexpr const char* kPortIncorrect = "Port Number Incorrect";
inline constexpr const char* kInvalidLogin = "Invalid Login ID or Password";
inline constexpr const char* kDvrLost = "Connection to the DVR was lost";
inline constexpr const char* kError = "Error";
inline constexpr const char* kNoId = "No ID";
inline constexpr const char* kBadPw = "BadPW";
inline constexpr const char* kBusy = "Busy";
inline constexpr const char* kFileReady = "File is ready to play";
inline constexpr const char* kFailToLoadFile = "Fail To Load File";
inline constexpr const char* kIsReady = "%s is Ready";
inline constexpr const char* kDragDropHere = "Drag & Drop here";

} // namespace vyrdax::text
