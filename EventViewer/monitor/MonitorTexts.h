#pragma once
// The texts of the event monitor: row states, summaries and captions.

namespace monitor {

inline constexpr const char* kStatusNoDvr = "No DVR";
inline constexpr const char* kStatusPolling = "Polling";
inline constexpr const char* kStatusReady = "Ready";
inline constexpr const char* kStatusWriteDb = "Write DB";
inline constexpr const char* kStatusDone = "Done";
inline constexpr const char* kStatusTimeOut = "Time Out";
inline constexpr const char* kStatusPortIncorrect = "Port Number Incorrect";
inline constexpr const char* kStatusNotResponding = "Not Responding";
inline constexpr const char* kStatusReceiveError = "Receive Error";
inline constexpr const char* kStatusLoginError = "Login Error";
// Rows that end without an answer the DVR gave.
inline constexpr const char* kStatusNoEventData = "No Event Data";
inline constexpr const char* kStatusDatabaseError = "DB Write Error";
inline constexpr const char* kStatusInvalidName = "Invalid DVR Name";

// Two blanks before "Not" when a DVR finishes, three when the writer ends.
inline constexpr const char* kSummaryOnFinish = "Done: %1 DVR,   Total Results: %2 Item,  Not Responding: %3 DVR";
inline constexpr const char* kSummaryOnWrite = "Done: %1 DVR,   Total Results: %2 Item,   Not Responding: %3 DVR";

inline constexpr const char* kFixedAddressText = "IP: %1, ID : %2, Port: %3";
inline constexpr const char* kLookupAddressText = "QUORIX, ID : %1, Port: %2";

inline constexpr const char* kEventTypeNames[8] = {"Motion",        "Sensor",        "Record",      "Video Loss",
                                                   "DVR Power On", "DVR Power Off", "Menu Change", "Network Connect"};
inline constexpr const char* kAlarmOff = "Off";
inline constexpr const char* kAlarmBeep = "Beep";

} // namespace monitor
