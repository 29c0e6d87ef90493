#pragma once
// The bitmaps the programs take by number: button faces, tab faces, slider
// channels and thumb, tree image lists and a few backgrounds. Each one is a
// 24-bit BMP file beside the program. The three viewers share one set of
// numbers ("image/res/<id>.bmp"); the movie player numbers its own bitmaps,
// which overlap the viewers' numbers, so they live apart
// ("image/res/player/<id>.bmp").
//
// A skinned button takes two faces: the in-face (shown while pressed or under
// the pointer) keyed by cyan, the out-face (shown otherwise) keyed by magenta.
// A bitmap is keyed by the colour in its table entry, so a view that shows an
// in-face in the out slot (an open panel's button) passes that colour along.
#include <QString>

#include <cstdint>

// Transparent colours, 0xRRGGBB.
inline constexpr uint32_t kSkinKeyIn = 0x00FFFF;      // in-faces, tabs, brush swatches
inline constexpr uint32_t kSkinKeyOut = 0xFF00FF;     // out-faces, slider thumb, tree images
inline constexpr uint32_t kSkinOpaque = 0xFFFFFFFFu;  // drawn whole, nothing shows through

struct SkinResource {
    int id;
    int width;
    int height;
    uint32_t transparent; // kSkinKeyIn, kSkinKeyOut or kSkinOpaque
    int images;           // pictures side by side in an image list strip; 1 otherwise
    const char* what;
};

// ---- The three viewers -------------------------------------------------------

// Tree image lists: DVR, IP camera, video server, then channel (device tree)
// or group (group tree); 16 x 15 each.
inline constexpr int kBitmapDeviceTreeImages = 174;
inline constexpr int kBitmapGroupTreeImages = 181;
inline constexpr int kTreeImageWidth = 16;
inline constexpr int kTreeImageHeight = 15;
inline constexpr int kTreeImageDvr = 0;
inline constexpr int kTreeImageIpCamera = 1;
inline constexpr int kTreeImageVideoServer = 2;
inline constexpr int kTreeImageChannelOrGroup = 3;

// Tree tabs (buttons 1009 and 1010): the tab of the tree on show is active.
inline constexpr int kBitmapDeviceTab = 137;
inline constexpr int kBitmapDeviceTabActive = 163;
inline constexpr int kBitmapGroupTab = 138;
inline constexpr int kBitmapGroupTabActive = 164;

// Lower-left panel buttons 1042, 1043, 1044.
inline constexpr int kBitmapPtzPanelIn = 195;
inline constexpr int kBitmapPtzPanelOut = 194;
inline constexpr int kBitmapPresetPanelIn = 192;
inline constexpr int kBitmapPresetPanelOut = 196;
inline constexpr int kBitmapAudioPanelIn = 187;
inline constexpr int kBitmapAudioPanelOut = 193;

// Bitmap sliders: one thumb (its top-left pixel is its transparent colour)
// and the channels that size the sliders.
inline constexpr int kBitmapSliderThumb = 234;
inline constexpr int kBitmapPtSpeedChannel = 259;      // 1062 of the network viewer
inline constexpr int kBitmapVolumeChannel = 268;       // 1068 and 1069
inline constexpr int kBitmapBackupVolumeChannel = 283; // 1062 of the backup viewer

// Schedule brush boxes 1028, 1024, 1025, 1026, 1027 of the DVR Configuration dialog.
inline constexpr int kBitmapBrushClear = 169;
inline constexpr int kBitmapBrushAlways = 173;
inline constexpr int kBitmapBrushMotion = 172;
inline constexpr int kBitmapBrushSensor = 176;
inline constexpr int kBitmapBrushMotionSensor = 175;

// Event viewer page buttons 1002 (monitor) and 1075 (search).
inline constexpr int kBitmapEventMonitorPageIn = 286;
inline constexpr int kBitmapEventMonitorPageOut = 287;
inline constexpr int kBitmapEventSearchPageIn = 288;
inline constexpr int kBitmapEventSearchPageOut = 289;

// Backup viewer backgrounds: behind the timeline's scroll bar, and the
// calendar dialog's day grid (drawn at (10, 55) of the dialog).
inline constexpr int kBitmapTimelineScrollArea = 303;
inline constexpr int kBitmapTimelineScrollBack = 315;
inline constexpr int kBitmapCalendarBackground = 317;

// Faces of the remaining buttons, in-face and out-face numbered in pairs.
// Hand-over buttons, the same in all three viewers.
inline constexpr int kBitmapGoToNetworkViewerIn = 400;
inline constexpr int kBitmapGoToNetworkViewerOut = 401;
inline constexpr int kBitmapGoToBackupViewerIn = 402;
inline constexpr int kBitmapGoToBackupViewerOut = 403;
inline constexpr int kBitmapGoToEventViewerIn = 404;
inline constexpr int kBitmapGoToEventViewerOut = 405;
// Network viewer, top of the left column.
inline constexpr int kBitmapConnectIn = 410;
inline constexpr int kBitmapConnectOut = 411;
inline constexpr int kBitmapDisconnectIn = 412;
inline constexpr int kBitmapDisconnectOut = 413;
inline constexpr int kBitmapLocalSetupIn = 414;
inline constexpr int kBitmapLocalSetupOut = 415;
inline constexpr int kBitmapDeviceSetupIn = 416;
inline constexpr int kBitmapDeviceSetupOut = 417;
// Bottom of the left column (also 1003 and 1005 of the backup viewer).
inline constexpr int kBitmapAddDvrIn = 420;
inline constexpr int kBitmapAddDvrOut = 421;
inline constexpr int kBitmapAddIpCameraIn = 422;
inline constexpr int kBitmapAddIpCameraOut = 423;
inline constexpr int kBitmapAddVideoServerIn = 424;
inline constexpr int kBitmapAddVideoServerOut = 425;
inline constexpr int kBitmapSaveGroupIn = 426;
inline constexpr int kBitmapSaveGroupOut = 427;
// Bottom bar of the network and backup viewers.
inline constexpr int kBitmapDvrRecordIn = 430;
inline constexpr int kBitmapDvrRecordOut = 431;
inline constexpr int kBitmapLocalRecordIn = 432;
inline constexpr int kBitmapLocalRecordOut = 433;
inline constexpr int kBitmapCaptureIn = 434;
inline constexpr int kBitmapCaptureOut = 435;
inline constexpr int kBitmapBackupIn = 436;
inline constexpr int kBitmapBackupOut = 437;
inline constexpr int kBitmapSplit4In = 440;
inline constexpr int kBitmapSplit4Out = 441;
inline constexpr int kBitmapSplit6In = 442;
inline constexpr int kBitmapSplit6Out = 443;
inline constexpr int kBitmapSplit9In = 444;
inline constexpr int kBitmapSplit9Out = 445;
inline constexpr int kBitmapSplit10In = 446;
inline constexpr int kBitmapSplit10Out = 447;
inline constexpr int kBitmapSplit16In = 448;
inline constexpr int kBitmapSplit16Out = 449;
inline constexpr int kBitmapSplit36In = 450;
inline constexpr int kBitmapSplit36Out = 451;
inline constexpr int kBitmapSplit64In = 452;
inline constexpr int kBitmapSplit64Out = 453;
inline constexpr int kBitmapFullScreenIn = 454;
inline constexpr int kBitmapFullScreenOut = 455;
inline constexpr int kBitmapNextSplitIn = 456;
inline constexpr int kBitmapNextSplitOut = 457;
// PTZ panel.
inline constexpr int kBitmapPtzUpLeftIn = 460;
inline constexpr int kBitmapPtzUpLeftOut = 461;
inline constexpr int kBitmapPtzUpIn = 462;
inline constexpr int kBitmapPtzUpOut = 463;
inline constexpr int kBitmapPtzUpRightIn = 464;
inline constexpr int kBitmapPtzUpRightOut = 465;
inline constexpr int kBitmapPtzLeftIn = 466;
inline constexpr int kBitmapPtzLeftOut = 467;
inline constexpr int kBitmapPtzRightIn = 468;
inline constexpr int kBitmapPtzRightOut = 469;
inline constexpr int kBitmapPtzDownLeftIn = 470;
inline constexpr int kBitmapPtzDownLeftOut = 471;
inline constexpr int kBitmapPtzDownIn = 472;
inline constexpr int kBitmapPtzDownOut = 473;
inline constexpr int kBitmapPtzDownRightIn = 474;
inline constexpr int kBitmapPtzDownRightOut = 475;
inline constexpr int kBitmapZoomOutIn = 476;
inline constexpr int kBitmapZoomOutOut = 477;
inline constexpr int kBitmapZoomInIn = 478;
inline constexpr int kBitmapZoomInOut = 479;
inline constexpr int kBitmapFocusFarIn = 480;
inline constexpr int kBitmapFocusFarOut = 481;
inline constexpr int kBitmapFocusNearIn = 482;
inline constexpr int kBitmapFocusNearOut = 483;
// Preset and audio panels.
inline constexpr int kBitmapPresetGoIn = 484;
inline constexpr int kBitmapPresetGoOut = 485;
inline constexpr int kBitmapPresetSetIn = 486;
inline constexpr int kBitmapPresetSetOut = 487;
inline constexpr int kBitmapPresetClearIn = 488;
inline constexpr int kBitmapPresetClearOut = 489;
inline constexpr int kBitmapListenIn = 490;
inline constexpr int kBitmapListenOut = 491;
// Backup viewer.
inline constexpr int kBitmapSearchDvrIn = 500;
inline constexpr int kBitmapSearchDvrOut = 501;
inline constexpr int kBitmapSearchLocalIn = 502;
inline constexpr int kBitmapSearchLocalOut = 503;
inline constexpr int kBitmapSoundIn = 504;
inline constexpr int kBitmapSoundOut = 505;
inline constexpr int kBitmapPlayIn = 506;
inline constexpr int kBitmapPlayOut = 507;
inline constexpr int kBitmapStopIn = 508;
inline constexpr int kBitmapStopOut = 509;
inline constexpr int kBitmapPauseIn = 510;
inline constexpr int kBitmapPauseOut = 511;
inline constexpr int kBitmapRewindIn = 512;
inline constexpr int kBitmapRewindOut = 513;
inline constexpr int kBitmapFastForwardIn = 514;
inline constexpr int kBitmapFastForwardOut = 515;
inline constexpr int kBitmapTimelineIn = 516;
inline constexpr int kBitmapTimelineOut = 517;
// Event viewer.
inline constexpr int kBitmapEventSetupIn = 520;
inline constexpr int kBitmapEventSetupOut = 521;

inline constexpr SkinResource kViewerSkinResources[] = {
    {kBitmapDeviceTreeImages, 4 * kTreeImageWidth, kTreeImageHeight, kSkinKeyOut, 4, "device tree images: DVR, IP camera, video server, channel"},
    {kBitmapGroupTreeImages, 4 * kTreeImageWidth, kTreeImageHeight, kSkinKeyOut, 4, "group tree images: DVR, IP camera, video server, group"},
    {kBitmapDeviceTab, 80, 23, kSkinKeyIn, 1, "device tree tab, group tree on show"},
    {kBitmapDeviceTabActive, 80, 23, kSkinKeyIn, 1, "device tree tab, device tree on show"},
    {kBitmapGroupTab, 80, 23, kSkinKeyIn, 1, "group tree tab, device tree on show"},
    {kBitmapGroupTabActive, 80, 23, kSkinKeyIn, 1, "group tree tab, group tree on show"},
    {kBitmapPtzPanelIn, 164, 24, kSkinKeyIn, 1, "PTZ panel button, in (also out while open)"},
    {kBitmapPtzPanelOut, 164, 24, kSkinKeyOut, 1, "PTZ panel button, out"},
    {kBitmapPresetPanelIn, 164, 24, kSkinKeyIn, 1, "preset panel button, in (also out while open)"},
    {kBitmapPresetPanelOut, 164, 24, kSkinKeyOut, 1, "preset panel button, out"},
    {kBitmapAudioPanelIn, 164, 24, kSkinKeyIn, 1, "audio panel button, in (also out while open)"},
    {kBitmapAudioPanelOut, 164, 24, kSkinKeyOut, 1, "audio panel button, out"},
    {kBitmapSliderThumb, 11, 15, kSkinKeyOut, 1, "slider thumb, keyed by its top-left pixel"},
    {kBitmapPtSpeedChannel, 51, 15, kSkinOpaque, 1, "PT speed slider channel"},
    {kBitmapVolumeChannel, 85, 15, kSkinOpaque, 1, "speaker and microphone volume slider channel"},
    {kBitmapBackupVolumeChannel, 95, 15, kSkinOpaque, 1, "backup viewer speaker volume slider channel"},
    {kBitmapBrushClear, 14, 14, kSkinKeyIn, 1, "schedule brush swatch: Clear"},
    {kBitmapBrushAlways, 14, 14, kSkinKeyIn, 1, "schedule brush swatch: Always"},
    {kBitmapBrushMotion, 14, 14, kSkinKeyIn, 1, "schedule brush swatch: Motion"},
    {kBitmapBrushSensor, 14, 14, kSkinKeyIn, 1, "schedule brush swatch: Sensor"},
    {kBitmapBrushMotionSensor, 14, 14, kSkinKeyIn, 1, "schedule brush swatch: Motion+Sensor"},
    {kBitmapEventMonitorPageIn, 164, 23, kSkinKeyIn, 1, "event monitor page button, in"},
    {kBitmapEventMonitorPageOut, 164, 23, kSkinKeyOut, 1, "event monitor page button, out"},
    {kBitmapEventSearchPageIn, 163, 23, kSkinKeyIn, 1, "event search page button, in"},
    {kBitmapEventSearchPageOut, 163, 23, kSkinKeyOut, 1, "event search page button, out"},
    {kBitmapTimelineScrollArea, 15, 240, kSkinOpaque, 1, "timeline scroll area"},
    {kBitmapTimelineScrollBack, 15, 240, kSkinOpaque, 1, "timeline scroll bar backing"},
    {kBitmapCalendarBackground, 376, 192, kSkinOpaque, 1, "calendar day grid background"},
    {kBitmapGoToNetworkViewerIn, 164, 24, kSkinKeyIn, 1, "Go To Network Viewer, in"},
    {kBitmapGoToNetworkViewerOut, 164, 24, kSkinKeyOut, 1, "Go To Network Viewer, out"},
    {kBitmapGoToBackupViewerIn, 164, 24, kSkinKeyIn, 1, "Go To Search Backup / Backup Viewer, in"},
    {kBitmapGoToBackupViewerOut, 164, 24, kSkinKeyOut, 1, "Go To Search Backup / Backup Viewer, out"},
    {kBitmapGoToEventViewerIn, 164, 24, kSkinKeyIn, 1, "Go To Event Viewer, in"},
    {kBitmapGoToEventViewerOut, 164, 24, kSkinKeyOut, 1, "Go To Event Viewer, out"},
    {kBitmapConnectIn, 38, 24, kSkinKeyIn, 1, "Connect, in"},
    {kBitmapConnectOut, 38, 24, kSkinKeyOut, 1, "Connect, out"},
    {kBitmapDisconnectIn, 38, 24, kSkinKeyIn, 1, "Disconnect, in"},
    {kBitmapDisconnectOut, 38, 24, kSkinKeyOut, 1, "Disconnect, out"},
    {kBitmapLocalSetupIn, 38, 24, kSkinKeyIn, 1, "Local Setup, in"},
    {kBitmapLocalSetupOut, 38, 24, kSkinKeyOut, 1, "Local Setup, out"},
    {kBitmapDeviceSetupIn, 38, 24, kSkinKeyIn, 1, "Device Setup, in"},
    {kBitmapDeviceSetupOut, 38, 24, kSkinKeyOut, 1, "Device Setup, out"},
    {kBitmapAddDvrIn, 35, 24, kSkinKeyIn, 1, "Add DVR, in"},
    {kBitmapAddDvrOut, 35, 24, kSkinKeyOut, 1, "Add DVR, out"},
    {kBitmapAddIpCameraIn, 35, 24, kSkinKeyIn, 1, "Add IP Camera, in"},
    {kBitmapAddIpCameraOut, 35, 24, kSkinKeyOut, 1, "Add IP Camera, out"},
    {kBitmapAddVideoServerIn, 35, 24, kSkinKeyIn, 1, "Add Video Server, in"},
    {kBitmapAddVideoServerOut, 35, 24, kSkinKeyOut, 1, "Add Video Server, out"},
    {kBitmapSaveGroupIn, 35, 24, kSkinKeyIn, 1, "Save Group, in"},
    {kBitmapSaveGroupOut, 35, 24, kSkinKeyOut, 1, "Save Group, out"},
    {kBitmapDvrRecordIn, 32, 24, kSkinKeyIn, 1, "DVR Record, in"},
    {kBitmapDvrRecordOut, 32, 24, kSkinKeyOut, 1, "DVR Record, out"},
    {kBitmapLocalRecordIn, 32, 24, kSkinKeyIn, 1, "Local Record, in"},
    {kBitmapLocalRecordOut, 32, 24, kSkinKeyOut, 1, "Local Record, out"},
    {kBitmapCaptureIn, 32, 24, kSkinKeyIn, 1, "Capture, in"},
    {kBitmapCaptureOut, 32, 24, kSkinKeyOut, 1, "Capture, out"},
    {kBitmapBackupIn, 32, 24, kSkinKeyIn, 1, "Backup, in"},
    {kBitmapBackupOut, 32, 24, kSkinKeyOut, 1, "Backup, out"},
    {kBitmapSplit4In, 48, 38, kSkinKeyIn, 1, "4 Split Mode, in"},
    {kBitmapSplit4Out, 48, 38, kSkinKeyOut, 1, "4 Split Mode, out"},
    {kBitmapSplit6In, 48, 38, kSkinKeyIn, 1, "6 Split Mode, in"},
    {kBitmapSplit6Out, 48, 38, kSkinKeyOut, 1, "6 Split Mode, out"},
    {kBitmapSplit9In, 48, 38, kSkinKeyIn, 1, "9 Split Mode, in"},
    {kBitmapSplit9Out, 48, 38, kSkinKeyOut, 1, "9 Split Mode, out"},
    {kBitmapSplit10In, 48, 38, kSkinKeyIn, 1, "10 Split Mode, in"},
    {kBitmapSplit10Out, 48, 38, kSkinKeyOut, 1, "10 Split Mode, out"},
    {kBitmapSplit16In, 48, 38, kSkinKeyIn, 1, "16 Split Mode, in"},
    {kBitmapSplit16Out, 48, 38, kSkinKeyOut, 1, "16 Split Mode, out"},
    {kBitmapSplit36In, 48, 38, kSkinKeyIn, 1, "36 Split Mode, in"},
    {kBitmapSplit36Out, 48, 38, kSkinKeyOut, 1, "36 Split Mode, out"},
    {kBitmapSplit64In, 48, 38, kSkinKeyIn, 1, "64 Split Mode, in"},
    {kBitmapSplit64Out, 48, 38, kSkinKeyOut, 1, "64 Split Mode, out"},
    {kBitmapFullScreenIn, 48, 38, kSkinKeyIn, 1, "Full Screen Mode, in"},
    {kBitmapFullScreenOut, 48, 38, kSkinKeyOut, 1, "Full Screen Mode, out"},
    {kBitmapNextSplitIn, 48, 38, kSkinKeyIn, 1, "Next Split Mode, in"},
    {kBitmapNextSplitOut, 48, 38, kSkinKeyOut, 1, "Next Split Mode, out"},
    {kBitmapPtzUpLeftIn, 29, 26, kSkinKeyIn, 1, "PTZ up-left, in"},
    {kBitmapPtzUpLeftOut, 29, 26, kSkinKeyOut, 1, "PTZ up-left, out"},
    {kBitmapPtzUpIn, 25, 20, kSkinKeyIn, 1, "PTZ up, in"},
    {kBitmapPtzUpOut, 25, 20, kSkinKeyOut, 1, "PTZ up, out"},
    {kBitmapPtzUpRightIn, 29, 26, kSkinKeyIn, 1, "PTZ up-right, in"},
    {kBitmapPtzUpRightOut, 29, 26, kSkinKeyOut, 1, "PTZ up-right, out"},
    {kBitmapPtzLeftIn, 23, 22, kSkinKeyIn, 1, "PTZ left, in"},
    {kBitmapPtzLeftOut, 23, 22, kSkinKeyOut, 1, "PTZ left, out"},
    {kBitmapPtzRightIn, 23, 22, kSkinKeyIn, 1, "PTZ right, in"},
    {kBitmapPtzRightOut, 23, 22, kSkinKeyOut, 1, "PTZ right, out"},
    {kBitmapPtzDownLeftIn, 29, 26, kSkinKeyIn, 1, "PTZ down-left, in"},
    {kBitmapPtzDownLeftOut, 29, 26, kSkinKeyOut, 1, "PTZ down-left, out"},
    {kBitmapPtzDownIn, 25, 20, kSkinKeyIn, 1, "PTZ down, in"},
    {kBitmapPtzDownOut, 25, 20, kSkinKeyOut, 1, "PTZ down, out"},
    {kBitmapPtzDownRightIn, 29, 26, kSkinKeyIn, 1, "PTZ down-right, in"},
    {kBitmapPtzDownRightOut, 29, 26, kSkinKeyOut, 1, "PTZ down-right, out"},
    {kBitmapZoomOutIn, 29, 26, kSkinKeyIn, 1, "Zoom Out, in"},
    {kBitmapZoomOutOut, 29, 26, kSkinKeyOut, 1, "Zoom Out, out"},
    {kBitmapZoomInIn, 29, 26, kSkinKeyIn, 1, "Zoom In, in"},
    {kBitmapZoomInOut, 29, 26, kSkinKeyOut, 1, "Zoom In, out"},
    {kBitmapFocusFarIn, 29, 26, kSkinKeyIn, 1, "Focus Far, in"},
    {kBitmapFocusFarOut, 29, 26, kSkinKeyOut, 1, "Focus Far, out"},
    {kBitmapFocusNearIn, 29, 26, kSkinKeyIn, 1, "Focus Near, in"},
    {kBitmapFocusNearOut, 29, 26, kSkinKeyOut, 1, "Focus Near, out"},
    {kBitmapPresetGoIn, 36, 24, kSkinKeyIn, 1, "preset go, in"},
    {kBitmapPresetGoOut, 36, 24, kSkinKeyOut, 1, "preset go, out"},
    {kBitmapPresetSetIn, 73, 23, kSkinKeyIn, 1, "preset set, in"},
    {kBitmapPresetSetOut, 73, 23, kSkinKeyOut, 1, "preset set, out"},
    {kBitmapPresetClearIn, 73, 23, kSkinKeyIn, 1, "preset clear, in"},
    {kBitmapPresetClearOut, 73, 23, kSkinKeyOut, 1, "preset clear, out"},
    {kBitmapListenIn, 35, 24, kSkinKeyIn, 1, "listening on/off, in"},
    {kBitmapListenOut, 35, 24, kSkinKeyOut, 1, "listening on/off, out"},
    {kBitmapSearchDvrIn, 80, 24, kSkinKeyIn, 1, "Search DVR, in"},
    {kBitmapSearchDvrOut, 80, 24, kSkinKeyOut, 1, "Search DVR, out"},
    {kBitmapSearchLocalIn, 80, 24, kSkinKeyIn, 1, "Search Local PC, in"},
    {kBitmapSearchLocalOut, 80, 24, kSkinKeyOut, 1, "Search Local PC, out"},
    {kBitmapSoundIn, 30, 24, kSkinKeyIn, 1, "sound on/off, in"},
    {kBitmapSoundOut, 30, 24, kSkinKeyOut, 1, "sound on/off, out"},
    {kBitmapPlayIn, 30, 24, kSkinKeyIn, 1, "Play, in"},
    {kBitmapPlayOut, 30, 24, kSkinKeyOut, 1, "Play, out"},
    {kBitmapStopIn, 30, 24, kSkinKeyIn, 1, "Stop, in"},
    {kBitmapStopOut, 30, 24, kSkinKeyOut, 1, "Stop, out"},
    {kBitmapPauseIn, 30, 24, kSkinKeyIn, 1, "Pause, in"},
    {kBitmapPauseOut, 30, 24, kSkinKeyOut, 1, "Pause, out"},
    {kBitmapRewindIn, 30, 24, kSkinKeyIn, 1, "Rewind, in"},
    {kBitmapRewindOut, 30, 24, kSkinKeyOut, 1, "Rewind, out"},
    {kBitmapFastForwardIn, 30, 24, kSkinKeyIn, 1, "Fast Foward, in"},
    {kBitmapFastForwardOut, 30, 24, kSkinKeyOut, 1, "Fast Foward, out"},
    {kBitmapTimelineIn, 164, 24, kSkinKeyIn, 1, "timeline show/hide, in"},
    {kBitmapTimelineOut, 164, 24, kSkinKeyOut, 1, "timeline show/hide, out"},
    {kBitmapEventSetupIn, 38, 24, kSkinKeyIn, 1, "event viewer Setup, in"},
    {kBitmapEventSetupOut, 38, 24, kSkinKeyOut, 1, "event viewer Setup, out"},
};

// ---- The movie player ---------------------------------------------------------

inline constexpr int kPlayerBitmapPlayIn = 150;
inline constexpr int kPlayerBitmapPlayOut = 149;
inline constexpr int kPlayerBitmapStopIn = 140;
inline constexpr int kPlayerBitmapStopOut = 153;
inline constexpr int kPlayerBitmapPauseIn = 148;
inline constexpr int kPlayerBitmapPauseOut = 147;
inline constexpr int kPlayerBitmapRewindIn = 151;
inline constexpr int kPlayerBitmapRewindOut = 152;
inline constexpr int kPlayerBitmapFastForwardIn = 154;
inline constexpr int kPlayerBitmapFastForwardOut = 155;
inline constexpr int kPlayerBitmapStepBackIn = 169;
inline constexpr int kPlayerBitmapStepBackOut = 168;
inline constexpr int kPlayerBitmapStepForwardIn = 171;
inline constexpr int kPlayerBitmapStepForwardOut = 170;
inline constexpr int kPlayerBitmapSplit4In = 141;
inline constexpr int kPlayerBitmapSplit4Out = 142;
inline constexpr int kPlayerBitmapSplit9In = 143;
inline constexpr int kPlayerBitmapSplit9Out = 144;
inline constexpr int kPlayerBitmapSplit16In = 145;
inline constexpr int kPlayerBitmapSplit16Out = 146;
inline constexpr int kPlayerBitmapSplit32In = 174;
inline constexpr int kPlayerBitmapSplit32Out = 175;
inline constexpr int kPlayerBitmapSplit64In = 179;
inline constexpr int kPlayerBitmapSplit64Out = 178;
inline constexpr int kPlayerBitmapNextIn = 164;
inline constexpr int kPlayerBitmapNextOut = 166;
// The view's frame: corners placed, edges stretched.
inline constexpr int kPlayerBitmapTopLeft = 156;
inline constexpr int kPlayerBitmapTopEdge = 130;
inline constexpr int kPlayerBitmapTopRight = 159;
inline constexpr int kPlayerBitmapLeftEdge = 134;
inline constexpr int kPlayerBitmapRightEdge = 135;
inline constexpr int kPlayerBitmapBottomLeft = 160;
inline constexpr int kPlayerBitmapBottomEdge = 133;
inline constexpr int kPlayerBitmapBottomRight = 132;

inline constexpr SkinResource kPlayerSkinResources[] = {
    {kPlayerBitmapPlayIn, 35, 30, kSkinKeyIn, 1, "Play, in"},
    {kPlayerBitmapPlayOut, 35, 30, kSkinKeyOut, 1, "Play, out"},
    {kPlayerBitmapStopIn, 35, 30, kSkinKeyIn, 1, "Stop, in"},
    {kPlayerBitmapStopOut, 35, 30, kSkinKeyOut, 1, "Stop, out"},
    {kPlayerBitmapPauseIn, 35, 30, kSkinKeyIn, 1, "Pause, in"},
    {kPlayerBitmapPauseOut, 35, 30, kSkinKeyOut, 1, "Pause, out"},
    {kPlayerBitmapRewindIn, 35, 30, kSkinKeyIn, 1, "Rewind, in"},
    {kPlayerBitmapRewindOut, 35, 30, kSkinKeyOut, 1, "Rewind, out"},
    {kPlayerBitmapFastForwardIn, 35, 30, kSkinKeyIn, 1, "Fast Forward, in"},
    {kPlayerBitmapFastForwardOut, 35, 30, kSkinKeyOut, 1, "Fast Forward, out"},
    {kPlayerBitmapStepBackIn, 35, 30, kSkinKeyIn, 1, "step back one frame, in"},
    {kPlayerBitmapStepBackOut, 35, 30, kSkinKeyOut, 1, "step back one frame, out"},
    {kPlayerBitmapStepForwardIn, 35, 30, kSkinKeyIn, 1, "step forward one frame, in"},
    {kPlayerBitmapStepForwardOut, 35, 30, kSkinKeyOut, 1, "step forward one frame, out"},
    {kPlayerBitmapSplit4In, 48, 38, kSkinKeyIn, 1, "4 Split Mode, in"},
    {kPlayerBitmapSplit4Out, 48, 38, kSkinKeyOut, 1, "4 Split Mode, out"},
    {kPlayerBitmapSplit9In, 48, 38, kSkinKeyIn, 1, "9 Split Mode, in"},
    {kPlayerBitmapSplit9Out, 48, 38, kSkinKeyOut, 1, "9 Split Mode, out"},
    {kPlayerBitmapSplit16In, 48, 38, kSkinKeyIn, 1, "16 Split Mode, in"},
    {kPlayerBitmapSplit16Out, 48, 38, kSkinKeyOut, 1, "16 Split Mode, out"},
    {kPlayerBitmapSplit32In, 48, 38, kSkinKeyIn, 1, "32 Split Mode, in"},
    {kPlayerBitmapSplit32Out, 48, 38, kSkinKeyOut, 1, "32 Split Mode, out"},
    {kPlayerBitmapSplit64In, 48, 38, kSkinKeyIn, 1, "64 Split Mode, in"},
    {kPlayerBitmapSplit64Out, 48, 38, kSkinKeyOut, 1, "64 Split Mode, out"},
    {kPlayerBitmapNextIn, 48, 38, kSkinKeyIn, 1, "Next, in"},
    {kPlayerBitmapNextOut, 48, 38, kSkinKeyOut, 1, "Next, out"},
    {kPlayerBitmapTopLeft, 17, 55, kSkinOpaque, 1, "frame, top left"},
    {kPlayerBitmapTopEdge, 16, 55, kSkinOpaque, 1, "frame, top edge (stretched across)"},
    {kPlayerBitmapTopRight, 18, 55, kSkinOpaque, 1, "frame, top right"},
    {kPlayerBitmapLeftEdge, 12, 16, kSkinOpaque, 1, "frame, left edge (stretched down)"},
    {kPlayerBitmapRightEdge, 13, 16, kSkinOpaque, 1, "frame, right edge (stretched down)"},
    {kPlayerBitmapBottomLeft, 13, 52, kSkinOpaque, 1, "frame, bottom left"},
    {kPlayerBitmapBottomEdge, 16, 52, kSkinOpaque, 1, "frame, bottom edge (stretched across)"},
    {kPlayerBitmapBottomRight, 173, 52, kSkinOpaque, 1, "frame, bottom right"},
};

// Paths relative to the program's directory.
inline QString SkinResourcePath(int id)
{
    return QStringLiteral("image/res/%1.bmp").arg(id);
}

inline QString PlayerSkinResourcePath(int id)
{
    return QStringLiteral("image/res/player/%1.bmp").arg(id);
}

// The table entry of a viewer bitmap or of a player bitmap; null when unknown.
inline const SkinResource* FindSkinResource(int id)
{
    for (const SkinResource& resource : kViewerSkinResources)
        if (resource.id == id)
            return &resource;
    return nullptr;
}

inline const SkinResource* FindPlayerSkinResource(int id)
{
    for (const SkinResource& resource : kPlayerSkinResources)
        if (resource.id == id)
            return &resource;
    return nullptr;
}
