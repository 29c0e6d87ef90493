#pragma once
// The control's published interface, as its type library publishes it:
// identifiers, the dispatch methods with their DISPIDs and types, the window
// messages it sends to its host and the sizes of the tables it hands over.
// This is the only part of the control that hosts include.
#include "platform/Component.h"
#include "platform/Dispatch.h"

#include <cstdint>
#include <vector>

namespace vyrdax {

inline constexpr const char* kProgId = "VYRDAX.VyrdaxCtrl.1";
inline constexpr const char* kUserTypeName = "Vyrdax Control";
inline const platform::Guid kClassId{0x3B7E4A2D, 0x91C6, 0x4F58, {0xB3, 0x0E, 0x6D, 0x21, 0x8A, 0x5C, 0x47, 0x19}};
inline const platform::Guid kTypeLibId{0x3B7E4A2A, 0x91C6, 0x4F58, {0xB3, 0x0E, 0x6D, 0x21, 0x8A, 0x5C, 0x47, 0x19}};
inline const platform::Guid kDispatchIid{0x3B7E4A2B, 0x91C6, 0x4F58, {0xB3, 0x0E, 0x6D, 0x21, 0x8A, 0x5C, 0x47, 0x19}};
inline const platform::Guid kEventsIid{0x3B7E4A2C, 0x91C6, 0x4F58, {0xB3, 0x0E, 0x6D, 0x21, 0x8A, 0x5C, 0x47, 0x19}};
inline constexpr unsigned short kTypeLibMajor = 1;
inline constexpr unsigned short kTypeLibMinor = 0;
inline constexpr const char* kTypeLibName = "VYRDAXLib";
inline constexpr const char* kTypeLibHelpString = "Vyrdax ActiveX Control module";
inline constexpr const char* kDispatchHelpString = "Dispatch interface for Vyrdax Control";
inline constexpr const char* kEventsHelpString = "Event interface for Vyrdax Control";
inline constexpr const char* kCoclassHelpString = "Vyrdax Control";
inline constexpr const char* kHelpFileName = "Vyrdax.hlp";
inline constexpr uint32_t kMiscStatus = 0x20191;
inline constexpr int kToolboxBitmapId = 202;

inline constexpr platform::HRESULT SELFREG_E_TYPELIB = static_cast<platform::HRESULT>(0x80040200u);
inline constexpr platform::HRESULT SELFREG_E_CLASS = static_cast<platform::HRESULT>(0x80040201u);

enum Dispid : int {
    DISPID_GetUserRight = 1,
    DISPID_SetOutlineColor,
    DISPID_GetDVRData,
    DISPID_GetDVRType,
    DISPID_SetRecType,
    DISPID_GetMicVolume,
    DISPID_GetSpeakerVolume,
    DISPID_SetSoundMute,
    DISPID_SetPTSpeed,
    DISPID_MicStart,
    DISPID_MicStop,
    DISPID_GetEventData,
    DISPID_SetEventInfo,
    DISPID_StartPlayFile,
    DISPID_StopFile,
    DISPID_PlayFile,
    DISPID_PauseFile,
    DISPID_GetPlayPos,
    DISPID_EndPlayFile,
    DISPID_SeekFrame,
    DISPID_GetMaxFrmNum,
    DISPID_DisconnectBackup,
    DISPID_GetMonthData,
    DISPID_GetTimeData,
    DISPID_GetBackupInfo,
    DISPID_GetVideoSignalType,
    DISPID_setDispChannel,
    DISPID_GetSvrChannel,
    DISPID_SetBackupMode,
    DISPID_setVersion,
    DISPID_StartRecord,
    DISPID_StopRecord,
    DISPID_DisConnectSvr,
    DISPID_SetConnectInfo,
    DISPID_ClearInfo,
    DISPID_SetStatus,
    DISPID_GetChannelName,
    DISPID_GetStatus,
    DISPID_isReady,
    DISPID_PointInRect,
    DISPID_SetSelection,
    DISPID_SaveToBMP,
    DISPID_CmdToDVR,
    DISPID_SetMicVolume,
    DISPID_StartDVRPlaybackTime,
    DISPID_SetSpeakerVolume,
    DISPID_PTZRControl,
    DISPID_Connect,
    DISPID_isConnect,
    DISPID_AudioEnable,
    DISPID_ReplaceWnd,
    DISPID_GetMonthDataL,
    DISPID_GetTimeDataL,
    DISPID_StartLocalPlayback,
    DISPID_CloseDispThread,
    DISPID_BackUp,
    DISPID_GetGroupName,
    DISPID_MouseDbClk,
    DISPID_Count = DISPID_MouseDbClk
};
static_assert(DISPID_MouseDbClk == 58, "the interface has 58 methods");

// Listed by the type library, absent from the dispatch table.
inline constexpr int DISPID_ABOUTBOX = -552;

// The method table: DISPID order, argument names as published.
inline const std::vector<platform::MethodInfo>& Methods()
{
    using platform::StringKind;
    constexpr auto I2 = platform::VT_I2;
    constexpr auto I4 = platform::VT_I4;
    constexpr auto STR = platform::VT_BSTR;
    constexpr auto BOOL_ = platform::VT_BOOL;
    constexpr auto PTR = platform::VT_PTR;
    constexpr auto NONE = platform::VT_EMPTY;
    constexpr auto PATH = StringKind::Path;
    static const std::vector<platform::MethodInfo> methods = {
        {1, "GetUserRight", I2, {}},
        {2, "SetOutlineColor", NONE, {{"color", I4}}},
        {3, "GetDVRData", PTR, {}},
        {4, "GetDVRType", I2, {}},
        {5, "SetRecType", NONE, {{"type", I2}}},
        {6, "GetMicVolume", I4, {}},
        {7, "GetSpeakerVolume", I4, {}},
        {8, "SetSoundMute", BOOL_, {{"val", I4}}},
        {9, "SetPTSpeed", BOOL_, {{"val", I2}}},
        {10, "MicStart", NONE, {}},
        {11, "MicStop", NONE, {}},
        {12, "GetEventData", PTR, {}},
        {13, "SetEventInfo", NONE,
         {{"sDVRName", STR}, {"id", STR}, {"pwd", STR}, {"addr", STR}, {"port", I2}, {"idxDisp", I2},
          {"idxPolling", I2}, {"time", I4}}},
        {14, "StartPlayFile", I4, {{"fname1", STR, PATH}, {"fname2", STR, PATH}, {"interval", I4}}},
        {15, "StopFile", NONE, {}},
        {16, "PlayFile", NONE, {{"interval", I4}}},
        {17, "PauseFile", NONE, {}},
        {18, "GetPlayPos", I4, {}},
        {19, "EndPlayFile", NONE, {}},
        {20, "SeekFrame", I4, {{"numfr", I4}}},
        {21, "GetMaxFrmNum", I4, {}},
        {22, "DisconnectBackup", NONE, {}},
        {23, "GetMonthData", PTR, {}},
        {24, "GetTimeData", PTR, {}},
        {25, "GetBackupInfo", NONE, {{"time", I4}, {"bTimeList", I2}}},
        {26, "GetVideoSignalType", I2, {}},
        {27, "setDispChannel", NONE, {{"idx", I2}}},
        {28, "GetSvrChannel", I2, {}},
        {29, "SetBackupMode", NONE, {{"backup", I2}}},
        {30, "setVersion", NONE, {{"nVersion", I2}}},
        {31, "StartRecord", I4,
         {{"path", STR, PATH}, {"fname1", STR, PATH}, {"fname2", STR, PATH}, {"space", I4}, {"idxCh", I2}}},
        {32, "StopRecord", NONE, {{"idxCh", I2}}},
        {33, "DisConnectSvr", NONE, {{"idxCh", I2}}},
        {34, "SetConnectInfo", NONE,
         {{"sChannelName", STR}, {"id", STR}, {"pwd", STR}, {"mac", STR}, {"addr", STR}, {"port", I2},
          {"mode", I2}, {"idxCh", I2}, {"aopt", I2}, {"idxDispChannel", I2}}},
        {35, "ClearInfo", NONE, {{"idxCh", I2}}},
        {36, "SetStatus", NONE, {{"idxCh", I2}, {"status", I4}}},
        {37, "GetChannelName", STR, {{"idxCh", I2}}},
        {38, "GetStatus", I4, {{"idxCh", I2}}},
        {39, "isReady", BOOL_, {{"idxCh", I2}}},
        {40, "PointInRect", BOOL_, {{"idxCh", I2}, {"x", I4}, {"y", I4}}},
        {41, "SetSelection", NONE, {{"idxCh", I2}, {"select", I2}}},
        {42, "SaveToBMP", BOOL_, {{"path", STR, PATH}, {"idxCh", I2}}},
        {43, "CmdToDVR", NONE, {{"command", I4}, {"index", I4}, {"idxCh", I2}}},
        {44, "SetMicVolume", BOOL_, {{"val", I4}, {"idxCh", I2}}},
        {45, "StartDVRPlaybackTime", NONE, {{"dtime", I4}, {"index", I4}, {"idxCh", I2}}},
        {46, "SetSpeakerVolume", BOOL_, {{"val", I4}, {"idxCh", I2}}},
        {47, "PTZRControl", BOOL_, {{"command", STR}, {"idxCh", I2}}},
        {48, "Connect", BOOL_, {{"idxCh", I2}}},
        {49, "isConnect", BOOL_, {{"idxCh", I2}}},
        {50, "AudioEnable", NONE, {{"idxCh", I2}}},
        {51, "ReplaceWnd", NONE,
         {{"display_mode", I2}, {"next", I2}, {"select_disp_ch", I2}, {"left", I2}, {"top", I2}, {"right", I2},
          {"bottom", I2}}},
        {52, "GetMonthDataL", PTR, {{"record_directory", STR, PATH}, {"search_option", STR, PATH}}},
        {53, "GetTimeDataL", PTR, {{"record_directory", STR, PATH}, {"search_option", STR, PATH}}},
        {54, "StartLocalPlayback", NONE, {{"idxTime", I2}, {"start_pb_time", I4}}},
        {55, "CloseDispThread", NONE, {}},
        {56, "BackUp", I4,
         {{"strRecordDir", STR, PATH}, {"strBackupDir", STR, PATH}, {"start_time", I4}, {"end_time", I4},
          {"disk_size", I4}}},
        {57, "GetGroupName", STR, {{"idxCh", I2}}},
        {58, "MouseDbClk", NONE, {{"select_dsip_ch", I2}}},
    };
    return methods;
}

// Messages to the host window. setDispChannel assigns the block of nineteen
// from WM_USER+0x200; only these are ever sent.
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t kHostMessageBase = WM_USER + 0x200;
inline constexpr int kHostMessageCount = 19;
inline constexpr uint32_t WM_VIDEO_DISCONNECTED = WM_USER + 0x204;
inline constexpr uint32_t WM_VIDEO_STARTED = WM_USER + 0x205;
inline constexpr uint32_t WM_VIDEO_RECORD_STOPPED = WM_USER + 0x207;
inline constexpr uint32_t WM_VIDEO_DVR_DATA = WM_USER + 0x20B;
inline constexpr uint32_t WM_VIDEO_ALARM = WM_USER + 0x20C;
inline constexpr uint32_t WM_VIDEO_ALARM2 = WM_USER + 0x20D;
inline constexpr uint32_t WM_VIDEO_PROGRESS = WM_USER + 0x20F;
inline constexpr uint32_t WM_VIDEO_LINK_ERROR = WM_USER + 0x210;
inline constexpr uint32_t WM_VIDEO_TIME_DATA = WM_USER + 0x211;
inline constexpr uint32_t WM_VIDEO_MONTH_DATA = WM_USER + 0x212;

// Sent by a video pane to its parent, the host window.
inline constexpr uint32_t WM_VIDEO_SELECT = WM_USER + 0x0F;
inline constexpr uint32_t WM_VIDEO_TOGGLE = WM_USER + 0x10;

// Tables handed to the host as VT_PTR results.
inline constexpr int kChannelCount = 64;
inline constexpr std::size_t kSetupRecordSmallSize = 12044;
inline constexpr std::size_t kSetupRecordLargeSize = 23736;
inline constexpr int kSetupRecordLargeFromDvrType = 16;
inline constexpr std::size_t kEventRecordSize = 24;
inline constexpr uint32_t kMaxEventRecords = 65536;
inline constexpr std::size_t kMonthTableSize = 32 * 4;
inline constexpr std::size_t kTimeListSize = 3076;

} // namespace vyrdax
