// Recording channels into movie files on the PC, and the searches over them.
#include "CVyrdaxCtrl.h"

#include "control/backup/CBackupRuns.h"
#include "control/playback/CLocalPlayback.h"
#include "platform/MessageBox.h"

namespace vyrdax {

namespace {

constexpr const char* kRecordFileOpenError = "Record File Open Error!";

} // namespace

std::unique_ptr<RecordingWriter> CVyrdaxCtrl::MakeRecordingWriter()
{
    RecordingWriter::Notices notices;
    notices.stopped = [this](int ch) {
        // A recording the writer gave up (a file it could not open or write)
        // must not go on looking like one; a split records on.
        if (!recorder_->IsRecording(ch)) {
            std::lock_guard<std::mutex> lock(statusLock_);
            channels_[ch].status = channels_[ch].status.load() &
                                   ~(STATUS_RECORD_MANUAL | STATUS_RECORD_SCHEDULE | STATUS_RECORD_ALARM);
        }
        // On the receive thread the notice gives up once the thread is asked
        // to stop, so a host joining it is never waited on.
        const std::atomic<bool>* stop = receiveThread_.IsCurrentThread() ? &receiveThread_.StopFlag() : nullptr;
        SendHostMessage(WM_VIDEO_RECORD_STOPPED, 0, channels_[ch].displayIndex.load(), stop);
    };
    // Shown on the GUI thread; a worker goes on at once.
    notices.fileError = [this](int) { platform::MessageBox(this, kRecordFileOpenError); };
    return std::make_unique<RecordingWriter>(std::move(notices));
}

void CVyrdaxCtrl::SetRecType(int16_t type)
{
    // Inverted on purpose: nonzero selects AVI.
    recordMode_ = type != 0 ? 0 : 1;
}

int32_t CVyrdaxCtrl::StartRecord(const std::string& path, const std::string& fname1, const std::string& fname2,
                                 int32_t /*space*/, int16_t idxCh)
{
    if (!ValidChannel(idxCh))
        return 0;
    localPlayback_->SetRecordDirectory(path);
    return recorder_->StartRecord(recordMode_.load() != 0, path, fname1, fname2, idxCh);
}

void CVyrdaxCtrl::StopRecord(int16_t idxCh)
{
    if (!ValidChannel(idxCh))
        return;
    recorder_->StopRecord(recordMode_.load() != 0, idxCh);
}

void CVyrdaxCtrl::WriteRecordFrame(int channel, const uint8_t* frame, const FrameInfo& info)
{
    recorder_->WriteRecordFrame(channel, frame, info);
}

void CVyrdaxCtrl::WriteAviFrame(int channel, const uint8_t* frame, uint32_t length, const DvrPacketHeader& header)
{
    const uint32_t width = header.Word(DvrPacketHeader::kVideoWidth);
    const uint32_t height = header.Word(DvrPacketHeader::kVideoHeight);
    // An AVI opened at a later intra frame needs the channel's headers in front.
    StreamHeader streamHeader = kStreamHeaderTemplate;
    const bool interlaced = header.Word(DvrPacketHeader::kVideoInterlace) == 1;
    PatchStreamHeader(streamHeader, width, height, interlaced);
    recorder_->WriteAviFrame(channel, frame, length, width, height, streamHeader.data(),
                             FramesPerSecondTimes100(header.Word(DvrPacketHeader::kVideoFrameInterval), interlaced));
}

platform::Variant CVyrdaxCtrl::GetMonthDataL(const std::string& recordDirectory, const std::string& searchOption)
{
    localPlayback_->SetRecordDirectory(recordDirectory);
    return platform::Variant::Pointer(monthCatalog_->GetMonthDataL(recordDirectory, searchOption),
                                      CRecordCatalog::kMonthTableBytes);
}

platform::Variant CVyrdaxCtrl::GetTimeDataL(const std::string& recordDirectory, const std::string& searchOption)
{
    localPlayback_->SetRecordDirectory(recordDirectory);
    return platform::Variant::Pointer(dayCatalog_->GetTimeDataL(recordDirectory, searchOption),
                                      CRecordCatalog::kTimeListBytes);
}

int32_t CVyrdaxCtrl::BackUp(const std::string& recordDirectory, const std::string& backupDirectory, int32_t start,
                            int32_t end, int32_t diskSize)
{
    return backups_->BackUp(recordDirectory, backupDirectory, static_cast<std::time_t>(start),
                            static_cast<std::time_t>(end), diskSize);
}

} // namespace vyrdax
