#include "CDVyrdax.h"

#include <cstring>

#include "control/interface/VyrdaxInterface.h"

#include <QWidget>

using platform::Variant;
using namespace vyrdax;

namespace {

Variant S(short v) { return Variant::Short(v); }
Variant L(long v) { return Variant::Long(static_cast<int32_t>(v)); }
Variant B(const QString& s) { return Variant::String(s.toStdU16String()); }

short AsShort(const Variant& v) { return v.vt == platform::VT_I2 ? static_cast<short>(v.i) : 0; }
long AsLong(const Variant& v) { return v.vt == platform::VT_I4 ? v.i : 0; }
bool AsBool(const Variant& v) { return v.vt == platform::VT_BOOL && v.i != 0; }
QString AsString(const Variant& v) { return v.vt == platform::VT_BSTR ? QString::fromStdU16String(v.bstr) : QString(); }
DVyrdaxTable AsTable(const Variant& v)
{
    return v.vt == platform::VT_PTR ? DVyrdaxTable{v.ptr, v.ptrSize} : DVyrdaxTable{};
}

} // namespace

bool CDVyrdax::Create(QWidget* parent, int controlId)
{
    platform::HRESULT hr = 0;
    std::string error;
    control_ = platform::CreateControl(kClassId.ToString(), parent, &hr, &error);
    if (!control_) {
        createError_ = QString::fromStdString(error);
        return false;
    }
    control_->Widget()->setObjectName(QString::number(controlId));
    control_->Widget()->setGeometry(0, 0, 0, 0); // panes are placed by ReplaceWnd
    control_->Widget()->show();
    return true;
}

QWidget* CDVyrdax::Widget() const { return control_ ? control_->Widget() : nullptr; }

Variant CDVyrdax::Call(int dispid, std::vector<Variant> arguments)
{
    Variant result;
    if (control_)
        control_->Invoke(dispid, arguments, &result);
    return result;
}

short CDVyrdax::GetUserRight() { return AsShort(Call(DISPID_GetUserRight, {})); }
void CDVyrdax::SetOutlineColor(long color) { Call(DISPID_SetOutlineColor, {L(color)}); }
DVyrdaxTable CDVyrdax::GetDVRData() { return AsTable(Call(DISPID_GetDVRData, {})); }
bool CDVyrdax::WriteDVRData(const void* record, std::size_t size)
{
    // The control hands the record out read-only; this is the one place the
    // host writes into it, on the GUI thread right before the upload.
    const DVyrdaxTable table = GetDVRData();
    if (!table.data || table.size != size || !record)
        return false;
    std::memcpy(const_cast<void*>(table.data), record, size);
    return true;
}
short CDVyrdax::GetDVRType() { return AsShort(Call(DISPID_GetDVRType, {})); }
void CDVyrdax::SetRecType(short type) { Call(DISPID_SetRecType, {S(type)}); }
long CDVyrdax::GetMicVolume() { return AsLong(Call(DISPID_GetMicVolume, {})); }
long CDVyrdax::GetSpeakerVolume() { return AsLong(Call(DISPID_GetSpeakerVolume, {})); }
bool CDVyrdax::SetSoundMute(long value) { return AsBool(Call(DISPID_SetSoundMute, {L(value)})); }
bool CDVyrdax::SetPTSpeed(short value) { return AsBool(Call(DISPID_SetPTSpeed, {S(value)})); }
void CDVyrdax::MicStart() { Call(DISPID_MicStart, {}); }
void CDVyrdax::MicStop() { Call(DISPID_MicStop, {}); }
DVyrdaxTable CDVyrdax::GetEventData() { return AsTable(Call(DISPID_GetEventData, {})); }
void CDVyrdax::SetEventInfo(const QString& dvrName, const QString& id, const QString& pwd, const QString& addr,
                            short port, short idxDisp, short idxPolling, long time)
{
    Call(DISPID_SetEventInfo, {B(dvrName), B(id), B(pwd), B(addr), S(port), S(idxDisp), S(idxPolling), L(time)});
}
long CDVyrdax::StartPlayFile(const QString& fname1, const QString& fname2, long interval)
{
    return AsLong(Call(DISPID_StartPlayFile, {B(fname1), B(fname2), L(interval)}));
}
void CDVyrdax::StopFile() { Call(DISPID_StopFile, {}); }
void CDVyrdax::PlayFile(long interval) { Call(DISPID_PlayFile, {L(interval)}); }
void CDVyrdax::PauseFile() { Call(DISPID_PauseFile, {}); }
long CDVyrdax::GetPlayPos() { return AsLong(Call(DISPID_GetPlayPos, {})); }
void CDVyrdax::EndPlayFile() { Call(DISPID_EndPlayFile, {}); }
long CDVyrdax::SeekFrame(long frame) { return AsLong(Call(DISPID_SeekFrame, {L(frame)})); }
long CDVyrdax::GetMaxFrmNum() { return AsLong(Call(DISPID_GetMaxFrmNum, {})); }
void CDVyrdax::DisconnectBackup() { Call(DISPID_DisconnectBackup, {}); }
DVyrdaxTable CDVyrdax::GetMonthData() { return AsTable(Call(DISPID_GetMonthData, {})); }
DVyrdaxTable CDVyrdax::GetTimeData() { return AsTable(Call(DISPID_GetTimeData, {})); }
void CDVyrdax::GetBackupInfo(long time, short timeList) { Call(DISPID_GetBackupInfo, {L(time), S(timeList)}); }
short CDVyrdax::GetVideoSignalType() { return AsShort(Call(DISPID_GetVideoSignalType, {})); }
void CDVyrdax::setDispChannel(short idx) { Call(DISPID_setDispChannel, {S(idx)}); }
short CDVyrdax::GetSvrChannel() { return AsShort(Call(DISPID_GetSvrChannel, {})); }
void CDVyrdax::SetBackupMode(short backup) { Call(DISPID_SetBackupMode, {S(backup)}); }
void CDVyrdax::setVersion(short version) { Call(DISPID_setVersion, {S(version)}); }
long CDVyrdax::StartRecord(const QString& path, const QString& fname1, const QString& fname2, long space, short ch)
{
    return AsLong(Call(DISPID_StartRecord, {B(path), B(fname1), B(fname2), L(space), S(ch)}));
}
void CDVyrdax::StopRecord(short ch) { Call(DISPID_StopRecord, {S(ch)}); }
void CDVyrdax::DisConnectSvr(short ch) { Call(DISPID_DisConnectSvr, {S(ch)}); }
void CDVyrdax::SetConnectInfo(const QString& channelName, const QString& id, const QString& pwd, const QString& mac,
                              const QString& addr, short port, short mode, short ch, short aopt, short dispChannel)
{
    Call(DISPID_SetConnectInfo, {B(channelName), B(id), B(pwd), B(mac), B(addr), S(port), S(mode), S(ch), S(aopt),
                                 S(dispChannel)});
}
void CDVyrdax::ClearInfo(short ch) { Call(DISPID_ClearInfo, {S(ch)}); }
void CDVyrdax::SetStatus(short ch, long status) { Call(DISPID_SetStatus, {S(ch), L(status)}); }
QString CDVyrdax::GetChannelName(short ch) { return AsString(Call(DISPID_GetChannelName, {S(ch)})); }
long CDVyrdax::GetStatus(short ch) { return AsLong(Call(DISPID_GetStatus, {S(ch)})); }
bool CDVyrdax::isReady(short ch) { return AsBool(Call(DISPID_isReady, {S(ch)})); }
bool CDVyrdax::PointInRect(short ch, long x, long y) { return AsBool(Call(DISPID_PointInRect, {S(ch), L(x), L(y)})); }
void CDVyrdax::SetSelection(short ch, short select) { Call(DISPID_SetSelection, {S(ch), S(select)}); }
bool CDVyrdax::SaveToBMP(const QString& path, short ch) { return AsBool(Call(DISPID_SaveToBMP, {B(path), S(ch)})); }
void CDVyrdax::CmdToDVR(long command, long index, short ch) { Call(DISPID_CmdToDVR, {L(command), L(index), S(ch)}); }
bool CDVyrdax::SetMicVolume(long value, short ch) { return AsBool(Call(DISPID_SetMicVolume, {L(value), S(ch)})); }
void CDVyrdax::StartDVRPlaybackTime(long time, long index, short ch)
{
    Call(DISPID_StartDVRPlaybackTime, {L(time), L(index), S(ch)});
}
bool CDVyrdax::SetSpeakerVolume(long value, short ch)
{
    return AsBool(Call(DISPID_SetSpeakerVolume, {L(value), S(ch)}));
}
bool CDVyrdax::PTZRControl(const QString& command, short ch) { return AsBool(Call(DISPID_PTZRControl, {B(command), S(ch)})); }
bool CDVyrdax::Connect(short ch) { return AsBool(Call(DISPID_Connect, {S(ch)})); }
bool CDVyrdax::isConnect(short ch) { return AsBool(Call(DISPID_isConnect, {S(ch)})); }
void CDVyrdax::AudioEnable(short ch) { Call(DISPID_AudioEnable, {S(ch)}); }
void CDVyrdax::ReplaceWnd(short mode, short next, short selected, short left, short top, short right, short bottom)
{
    Call(DISPID_ReplaceWnd, {S(mode), S(next), S(selected), S(left), S(top), S(right), S(bottom)});
}
DVyrdaxTable CDVyrdax::GetMonthDataL(const QString& recordDirectory, const QString& searchOption)
{
    return AsTable(Call(DISPID_GetMonthDataL, {B(recordDirectory), B(searchOption)}));
}
DVyrdaxTable CDVyrdax::GetTimeDataL(const QString& recordDirectory, const QString& searchOption)
{
    return AsTable(Call(DISPID_GetTimeDataL, {B(recordDirectory), B(searchOption)}));
}
void CDVyrdax::StartLocalPlayback(short idxTime, long startTime) { Call(DISPID_StartLocalPlayback, {S(idxTime), L(startTime)}); }
void CDVyrdax::CloseDispThread() { Call(DISPID_CloseDispThread, {}); }
long CDVyrdax::BackUp(const QString& recordDir, const QString& backupDir, long startTime, long endTime, long diskSize)
{
    return AsLong(Call(DISPID_BackUp, {B(recordDir), B(backupDir), L(startTime), L(endTime), L(diskSize)}));
}
QString CDVyrdax::GetGroupName(short ch) { return AsString(Call(DISPID_GetGroupName, {S(ch)})); }
void CDVyrdax::MouseDbClk(short selected) { Call(DISPID_MouseDbClk, {S(selected)}); }

void CopyToNarrowBuffer(const QString& text, char* buffer)
{
    const int n = std::min<int>(static_cast<int>(text.size()), 260);
    for (int k = 0; k < n; ++k)
        buffer[k] = static_cast<char>(text.at(k).unicode() & 0xFF);
    buffer[n] = '\0';
}
