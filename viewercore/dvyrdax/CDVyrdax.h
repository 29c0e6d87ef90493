#pragma once
// The viewers' wrapper of the video control: one method per dispatch method,
// each one late-bound call through the control container. With no control
// (it could not be created) every method returns its neutral value.
#include "platform/ControlContainer.h"

#include <QString>

#include <cstddef>
#include <cstdint>

class QWidget;

// A table the control hands over: valid until the next answer of its kind.
struct DVyrdaxTable {
    const void* data = nullptr;
    std::size_t size = 0;
};

class CDVyrdax {
public:
    CDVyrdax() = default;
    CDVyrdax(const CDVyrdax&) = delete;
    CDVyrdax& operator=(const CDVyrdax&) = delete;

    // Creates the control as a child of `parent` by its class identifier;
    // false (and no control) when it cannot be made.
    bool Create(QWidget* parent, int controlId);
    bool IsCreated() const { return static_cast<bool>(control_); }
    QWidget* Widget() const;
    // The reason of the last failed Create.
    const QString& CreateError() const { return createError_; }

    short GetUserRight();
    void SetOutlineColor(long color);
    DVyrdaxTable GetDVRData();
    // Puts an edited setup record into the control's buffer, the one command
    // 19 sends; refused (false) unless the buffer has exactly its size.
    bool WriteDVRData(const void* record, std::size_t size);
    short GetDVRType();
    void SetRecType(short type);
    long GetMicVolume();
    long GetSpeakerVolume();
    bool SetSoundMute(long value);
    bool SetPTSpeed(short value);
    void MicStart();
    void MicStop();
    DVyrdaxTable GetEventData();
    void SetEventInfo(const QString& dvrName, const QString& id, const QString& pwd, const QString& addr, short port,
                      short idxDisp, short idxPolling, long time);
    long StartPlayFile(const QString& fname1, const QString& fname2, long interval);
    void StopFile();
    void PlayFile(long interval);
    void PauseFile();
    long GetPlayPos();
    void EndPlayFile();
    long SeekFrame(long frame);
    long GetMaxFrmNum();
    void DisconnectBackup();
    DVyrdaxTable GetMonthData();
    DVyrdaxTable GetTimeData();
    void GetBackupInfo(long time, short timeList);
    short GetVideoSignalType();
    void setDispChannel(short idx);
    short GetSvrChannel();
    void SetBackupMode(short backup);
    void setVersion(short version);
    long StartRecord(const QString& path, const QString& fname1, const QString& fname2, long space, short ch);
    void StopRecord(short ch);
    void DisConnectSvr(short ch);
    void SetConnectInfo(const QString& channelName, const QString& id, const QString& pwd, const QString& mac,
                        const QString& addr, short port, short mode, short ch, short aopt, short dispChannel);
    void ClearInfo(short ch);
    void SetStatus(short ch, long status);
    QString GetChannelName(short ch);
    long GetStatus(short ch);
    bool isReady(short ch);
    bool PointInRect(short ch, long x, long y);
    void SetSelection(short ch, short select);
    bool SaveToBMP(const QString& path, short ch);
    void CmdToDVR(long command, long index, short ch);
    bool SetMicVolume(long value, short ch);
    void StartDVRPlaybackTime(long time, long index, short ch);
    bool SetSpeakerVolume(long value, short ch);
    bool PTZRControl(const QString& command, short ch);
    bool Connect(short ch);
    bool isConnect(short ch);
    void AudioEnable(short ch);
    void ReplaceWnd(short mode, short next, short selected, short left, short top, short right, short bottom);
    DVyrdaxTable GetMonthDataL(const QString& recordDirectory, const QString& searchOption);
    DVyrdaxTable GetTimeDataL(const QString& recordDirectory, const QString& searchOption);
    void StartLocalPlayback(short idxTime, long startTime);
    void CloseDispThread();
    long BackUp(const QString& recordDir, const QString& backupDir, long startTime, long endTime, long diskSize);
    QString GetGroupName(short ch);
    void MouseDbClk(short selected);

private:
    platform::Variant Call(int dispid, std::vector<platform::Variant> arguments);

    platform::ControlHandle control_;
    QString createError_;
};

// Copies a UTF-16 string into an 8-bit buffer of 261 bytes: the low byte of
// each code unit, at most 260 of them, then a zero byte.
void CopyToNarrowBuffer(const QString& text, char* buffer);
