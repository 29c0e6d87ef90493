#include "CLocalPlayback.h"

#include "control/CVyrdaxCtrl.h"
#include "control/PlayState.h"
#include "control/StatusTexts.h"
#include "control/display/XvidDecoder.h"
#include "control/filter/Deinterlace.h"
#include "control/link/DvrPacket.h"
#include "control/record/RecordedStream.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <thread>

namespace vyrdax {

using vyrmovie::CMovieFileReader;
using vyrmovie::MovieFrameHeader;

namespace {

constexpr int kDecodeCalls = 16;
// A master frame this many seconds of wall clock (times the fast-play
// divisor) past the one before it marks a gap in its recording.
constexpr int64_t kGapSeconds = 5;
// Channels this far behind the master are not shown until they catch up
// (play, then fast play): they cannot pace the others.
constexpr int64_t kBehindSeconds = 15;
constexpr int64_t kFastBehindSeconds = 165;
// How long a channel waits for the master's first frame before it shows its
// own frames unpaced: the master may have nothing to show.
constexpr int kReferenceWaitMs = 1000;

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::atomic<CLocalPlayback::BeforeWaitHook> beforeWaitHook{nullptr};

void BeforeWait(int channel, int64_t msLeft)
{
    if (const CLocalPlayback::BeforeWaitHook hook = beforeWaitHook.load())
        hook(channel, msLeft);
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Readers move by their own state numbers, in which fast forward is 3 and
// rewind 4.
void ApplyMode(CMovieFileReader& reader, int mode)
{
    switch (mode) {
    case PLAY_PLAYING: reader.Play(); break;
    case PLAY_PAUSED: reader.Pause(); break;
    case PLAY_FAST_FORWARD: reader.FastForward(); break;
    case PLAY_REWINDING: reader.Rewind(); break;
    default: break;
    }
}

// Where a channel's walk through the catalogues stands; the reader keeps it.
struct CatalogWalk {
    explicit CatalogWalk(CMovieFileReader& r)
        : reader(r), current(r.DataPath()), slot(r.catalogSlot), day(r.catalogDay), month(r.catalogMonth)
    {
    }
    void Store() const
    {
        reader.catalogSlot = slot;
        reader.catalogDay = day;
        reader.catalogMonth = month;
    }
    CMovieFileReader& reader;
    const std::string current;
    int slot, day, month;
};

bool Idle(int mode) { return mode == PLAY_STOPPED || mode == PLAY_PAUSED; }

int64_t FastDivisor(int mode)
{
    return mode == PLAY_FAST_FORWARD || mode == PLAY_REWINDING ? playback::speed.load() * 15 : 1;
}

// Whether a frame lies more than a gap's length beyond the one read before
// it, in the direction of play.
bool IsGap(int64_t previous, int64_t seconds, int mode)
{
    if (previous == 0)
        return false;
    const int64_t step = mode == PLAY_REWINDING ? previous - seconds : seconds - previous;
    return step > kGapSeconds * FastDivisor(mode);
}
bool StepMode(int mode) { return mode == 5 || mode == 6; }

// The file index a day's catalogue gets when a rewind walks into it from the
// day after: past every entry, so the search begins with the day's last
// slot. The forward walk finds no entry after it.
constexpr int kFromTheDaysEnd = INT_MAX;

} // namespace

bool IsValidPackedTime(const MovieFrameHeader& h)
{
    const int month = static_cast<int8_t>(h.month), day = static_cast<int8_t>(h.day);
    const int hour = static_cast<int8_t>(h.hour), minute = static_cast<int8_t>(h.minute);
    const int second = static_cast<int8_t>(h.second);
    return month >= 1 && month <= 13 && day >= 1 && day <= 31 && hour >= 0 && hour <= 25 && minute >= 0 &&
           minute <= 61 && second >= 0 && second <= 61;
}

void CLocalPlayback::SetBeforeWaitHookForTests(BeforeWaitHook hook) { beforeWaitHook = hook; }

CLocalPlayback::CLocalPlayback(CVyrdaxCtrl& control) : control_(control) {}

CLocalPlayback::~CLocalPlayback() { StopThreads(); }

void CLocalPlayback::SetRecordDirectory(const std::string& directory)
{
    std::lock_guard<std::recursive_mutex> lock(playbackLock_);
    recordDirectory_ = directory;
}

std::string CLocalPlayback::RecordDirectory() const
{
    std::lock_guard<std::recursive_mutex> lock(playbackLock_);
    return recordDirectory_;
}

CLocalPlayback::ReaderPtr CLocalPlayback::Reader(int channel) const
{
    std::lock_guard<std::recursive_mutex> lock(playbackLock_);
    return readers_[channel];
}

void CLocalPlayback::KeepShownTimes(bool keep)
{
    std::lock_guard<std::mutex> lock(shownTimesLock_);
    keepShownTimes_ = keep;
    for (auto& times : shownTimes_)
        times.clear();
}

std::vector<int64_t> CLocalPlayback::ShownTimes(int channel) const
{
    std::lock_guard<std::mutex> lock(shownTimesLock_);
    if (channel < 0 || channel >= kChannels)
        return {};
    return shownTimes_[static_cast<std::size_t>(channel)];
}

CLocalPlayback::ChannelView CLocalPlayback::View(int channel) const
{
    std::lock_guard<std::recursive_mutex> lock(playbackLock_);
    ChannelView v;
    if (channel < 0 || channel >= kChannels)
        return v;
    if (const ReaderPtr& r = readers_[channel]) {
        v.hasReader = true;
        v.path = r->DataPath();
        v.endFlag = r->EndFlag();
        v.slot = r->catalogSlot;
        v.day = r->catalogDay;
        v.year = r->catalogMonth / 12;
        v.month = r->catalogMonth % 12 + 1;
    }
    v.threadRunning = threads_[channel] && threads_[channel]->Running();
    return v;
}

// ---- threads ----------------------------------------------------------------

void CLocalPlayback::StartThread(int channel)
{
    std::lock_guard<std::recursive_mutex> lock(playbackLock_);
    if (ending_)
        return;
    std::unique_ptr<platform::WorkerThread>& thread = threads_[channel];
    if (!thread)
        thread = std::make_unique<platform::WorkerThread>();
    if (thread->Running())
        return;
    thread->Start([this, channel](platform::WorkerThread& self) { ThreadProc(self, channel); }, &playback::waiters);
}

void CLocalPlayback::StopThreads()
{
    {
        std::lock_guard<std::recursive_mutex> lock(playbackLock_);
        ending_ = true;
        for (int ch = 0; ch < kChannels; ++ch)
            if (threads_[ch])
                threads_[ch]->RequestStop();
    }
    playback::WakeWaiters();
    // Joined without the lock: a thread may be waiting for it to move files.
    for (int ch = 0; ch < kChannels; ++ch)
        if (threads_[ch])
            threads_[ch]->StopAndJoin();
    std::lock_guard<std::recursive_mutex> lock(playbackLock_);
    ending_ = false;
}

// ---- dispatch methods -----------------------------------------------------------

void CLocalPlayback::StartLocalPlayback(int slot, std::time_t start)
{
    int expected = 0;
    if (!startGuard_.compare_exchange_strong(expected, 1))
        return;
    // A new start begins from nothing: old threads end and old readers go,
    // so every channel joins again at its own time.
    StopThreads();
    const int mode = playback::state.load();
    if (mode == PLAY_PLAYING || mode == PLAY_FAST_FORWARD || mode == PLAY_REWINDING) {
        PauseAllReaders();
        SleepMs(10);
    }
    std::tm local{};
    localtime_r(&start, &local);
    bool any = false;
    {
        std::lock_guard<std::recursive_mutex> lock(playbackLock_);
        FillCatalogs(start);
    }
    for (; slot >= 0 && slot < kSlots; ++slot) {
        std::lock_guard<std::recursive_mutex> lock(playbackLock_);
        for (int ch = 0; ch < kChannels; ++ch) {
            readers_[ch].reset();
            playing_[ch] = 0;
        }
        endReached_ = 0;
        lastForwardSlot_ = slot;
        any = OpenStartFiles(slot, local.tm_mday, true) > 0;
        for (auto& reader : readers_)
            if (reader) {
                reader->SeekTime(static_cast<int32_t>(start), 0);
                reader->catalogDay = local.tm_mday;
            }
        if (any) {
            // A camera whose recording begins later joins now and waits in
            // step for its first frame's time, whichever half-hour or day
            // that lies in: nothing else would open it in time.
            OpenLaterFiles(slot + 1, local.tm_mday, startMonth_);
            break;
        }
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        const bool hadPane = control_.Pane(ch) != nullptr;
        CVideoPane* pane = control_.EnsurePane(ch);
        if (!pane || hadPane)
            continue;
        ChannelSlot& s = control_.Channel(ch);
        s.displayIndex = ch;
        pane->SetPaneIndex(ch);
        if (ReaderPtr reader = Reader(ch)) {
            {
                std::lock_guard<std::mutex> names(s.titleLock);
                s.name = reader->ChannelName();
            }
            AnnounceFile(ch);
        } else {
            control_.SetChannelStatus(text::kDisconnected, ch);
        }
    }
    control_.LayoutPanes();
    if (any) {
        SelectEarliestChannel();
        PlayFile(1);
    }
    startGuard_ = 0;
}

int32_t CLocalPlayback::PlayFile(int32_t interval)
{
    const int mode = playback::state.load();
    switch (interval) {
    case 1:
        if (mode == PLAY_FAST_FORWARD || mode == PLAY_REWINDING) {
            PauseAllReaders();
            SleepMs(10);
        }
        ReleasePlayThreads();
        ForEachReader(&CMovieFileReader::Play);
        SleepMs(100);
        playback::speed = 1;
        playback::SetState(PLAY_PLAYING);
        break;
    case 2:
    case 3: {
        const int target = interval == 2 ? PLAY_FAST_FORWARD : PLAY_REWINDING;
        if (mode != target) {
            PauseAllReaders();
            SleepMs(100);
            ForEachReader(interval == 2 ? &CMovieFileReader::FastForward : &CMovieFileReader::Rewind);
            SleepMs(100);
            playback::speed = 1;
            playback::SetState(target);
        } else {
            playback::speed = std::min(3, playback::speed.load() + 1);
        }
        ReleasePlayThreads();
        break;
    }
    default: return interval;
    }
    playback::WakeWaiters();
    return 1;
}

void CLocalPlayback::PauseFile()
{
    ForEachReader(&CMovieFileReader::Pause);
    playback::SetState(PLAY_PAUSED);
}

void CLocalPlayback::StopFile()
{
    PauseFile();
    SleepMs(100);
    for (int ch = 0; ch < kChannels; ++ch) {
        ChannelSlot& slot = control_.Channel(ch);
        CVideoPane* pane = slot.pane.data();
        if (!pane)
            continue;
        {
            std::lock_guard<std::recursive_mutex> lock(slot.displayLock);
            pane->ClearSurface();
            pane->PresentFrame();
        }
        const ReaderPtr reader = Reader(ch);
        control_.SetChannelStatus(reader ? reader->ChannelName() : control_.GetChannelName(static_cast<int16_t>(ch)),
                                  ch);
    }
}

void CLocalPlayback::EndPlayFile()
{
    StopThreads();
    {
        std::lock_guard<std::recursive_mutex> lock(playbackLock_);
        for (int ch = 0; ch < kChannels; ++ch) {
            readers_[ch].reset();
            playing_[ch] = 0;
        }
    }
    CloseDispThread();
}

void CLocalPlayback::CloseDispThread()
{
    StopThreads();
    for (int ch = 0; ch < kChannels; ++ch) {
        ChannelSlot& slot = control_.Channel(ch);
        if (!slot.pane)
            continue;
        {
            std::lock_guard<std::mutex> names(slot.titleLock);
            slot.name.clear();
            slot.groupName.clear();
        }
        slot.displayIndex = -1;
        slot.status = 0;
        delete slot.pane.data();
        slot.pane = nullptr;
    }
}

void CLocalPlayback::SelectMaster(int channel)
{
    if (channel < 0 || channel >= kChannels)
        return;
    std::lock_guard<std::recursive_mutex> table(playbackLock_);
    if (!readers_[channel])
        return;
    std::lock_guard<std::recursive_mutex> lock(playback::globalLock);
    playback::masterChannel = channel;
    ReleasePlayThreads();
}

// ---- master and reference -----------------------------------------------------------

void CLocalPlayback::ReleasePlayThreads()
{
    {
        std::lock_guard<std::recursive_mutex> lock(playback::globalLock);
        playback::baseSeconds = 0;
        for (auto& flag : playback::releaseFlags)
            flag = 1;
    }
    playback::WakeWaiters();
}

// The reader table's lock is always taken before the global lock.
void CLocalPlayback::SelectEarliestChannel()
{
    std::lock_guard<std::recursive_mutex> table(playbackLock_);
    std::lock_guard<std::recursive_mutex> lock(playback::globalLock);
    int candidate = -1;
    int32_t candidateTime = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
        const ReaderPtr reader = Reader(ch);
        // A channel whose file could not be opened has no frame to lead with.
        if (!reader || !reader->HasFile())
            continue;
        const int32_t t = reader->GetIndexRecord(reader->KeyFrameCounter()).seconds;
        if (candidate < 0 || t < candidateTime || candidateTime == 0) {
            candidate = ch;
            candidateTime = t;
        }
    }
    playback::masterChannel = candidate < 0 ? 0 : candidate;
    ReleasePlayThreads();
}

// Every channel waits for its frames against the master's, so when the
// master's recording breaks off (a file change, a gap) the master becomes
// the channel whose next frame comes first (last, rewinding) from
// `position`, the time playback stands at. Readers know the time of the
// frame they read next, so a channel that just opened a later file does
// not hold the clock. Channels at the end of their recordings, and those
// too far behind to be shown, are passed over; ties keep the master.
void CLocalPlayback::SelectMasterChannel(bool forward, int first, int last, int64_t position)
{
    std::lock_guard<std::recursive_mutex> table(playbackLock_);
    std::lock_guard<std::recursive_mutex> lock(playback::globalLock);
    const int master = playback::masterChannel.load();
    const int mode = playback::state.load();
    const int64_t behind = mode == PLAY_FAST_FORWARD || mode == PLAY_REWINDING ? kFastBehindSeconds : kBehindSeconds;
    const int ended = forward ? CMovieFileReader::END_OF_FILE : CMovieFileReader::END_AT_START;
    int best = -1;
    int64_t bestTime = 0;
    for (int ch = std::max(0, first); ch <= std::min(last, kChannels - 1); ++ch) {
        const ReaderPtr reader = Reader(ch);
        if (!reader || reader->EndFlag() == ended || !reader->HasFile())
            continue;
        const int64_t next = reader->FrameSeconds();
        if (position != 0 && (forward ? next < position - behind : next > position + behind))
            continue;
        if (best < 0 || (forward ? next < bestTime : next > bestTime) || (next == bestTime && ch == master)) {
            best = ch;
            bestTime = next;
        }
    }
    if (best >= 0)
        playback::masterChannel = best;
    ReleasePlayThreads();
}

void CLocalPlayback::ForEachReader(void (CMovieFileReader::*action)())
{
    std::lock_guard<std::recursive_mutex> lock(playbackLock_);
    for (auto& reader : readers_)
        if (reader)
            ((*reader).*action)();
    // A thread that found its reader paused waits for its next state.
    playback::WakeWaiters();
}

void CLocalPlayback::PauseAllReaders()
{
    const int mode = playback::state.load();
    if (mode == PLAY_PAUSED || StepMode(mode))
        return;
    playback::SetState(PLAY_PAUSED);
    ForEachReader(&CMovieFileReader::Pause);
}

void CLocalPlayback::ResetChannelDisplay(int channel, const std::string& text)
{
    ChannelSlot& slot = control_.Channel(channel);
    if (!slot.pane)
        return;
    control_.ResetChannelDisplay(channel);
    if (control_.RemoteMode() == 0)
        control_.SetChannelStatus(text, channel);
}

void CLocalPlayback::AnnounceFile(int channel)
{
    control_.Channel(channel).status = STATUS_PLAY;
    control_.RedrawState(channel, STATUS_PLAY);
    control_.SetChannelStatus(text::kFileReady, channel);
}

// ---- the day catalogues and moving between files ------------------------------------

CRecordCatalog* CLocalPlayback::Catalog(int month, int day)
{
    const int block = month - startMonth_ + 1;
    if (block < 0 || block > 2 || day < 0 || day >= kDaysPerBlock ||
        catalogs_.size() != static_cast<std::size_t>(3 * kDaysPerBlock))
        return nullptr;
    return catalogs_[static_cast<std::size_t>(block * kDaysPerBlock + day)].get();
}

void CLocalPlayback::FillCatalogs(std::time_t start)
{
    std::tm local{};
    localtime_r(&start, &local);
    const int month = MonthNumber(local.tm_year + 1900, local.tm_mon + 1);
    if (catalogs_.empty())
        for (int i = 0; i < 3 * kDaysPerBlock; ++i)
            catalogs_.push_back(std::make_unique<CRecordCatalog>());
    startMonth_ = month;
    catalogDirectory_ = recordDirectory_;
    for (int block = 0; block < 3; ++block) {
        const int m = month - 1 + block;
        for (int day = 0; day < kDaysPerBlock; ++day) {
            CRecordCatalog& catalog = *catalogs_[static_cast<std::size_t>(block * kDaysPerBlock + day)];
            catalog.currentSlot.fill(0);
            catalog.currentFile.fill(0);
            if (day == 0 || day == kDaysPerBlock - 1)
                catalog.ClearLists();
            else
                catalog.FindRecordingFile(catalogDirectory_, m / 12, m % 12 + 1, day);
        }
    }
}

bool CLocalPlayback::OpenReader(int channel, const std::string& path, bool keepState)
{
    // A fresh reader every time: a thread that still holds the old one
    // finishes its frame with it.
    auto reader = std::make_shared<CMovieFileReader>();
    const ReaderPtr& old = readers_[channel];
    if (old) {
        reader->catalogSlot = old->catalogSlot;
        reader->catalogDay = old->catalogDay;
        reader->catalogMonth = old->catalogMonth;
    }
    const int state = old && keepState ? old->State() : CMovieFileReader::STATE_PLAY;
    const int opened = reader->Open(path, vyrmovie::IndexPathFor(path));
    switch (state) {
    case CMovieFileReader::STATE_PAUSE: reader->Pause(); break;
    case CMovieFileReader::STATE_FAST_FORWARD: reader->FastForward(); break;
    case CMovieFileReader::STATE_REWIND: reader->Rewind(); break;
    case CMovieFileReader::STATE_RESET: break;
    default: reader->Play(); break;
    }
    readers_[channel] = reader;
    return opened == 1;
}

int CLocalPlayback::OpenStartFiles(int slot, int startDay, bool announce)
{
    CRecordCatalog* catalog = Catalog(startMonth_, startDay);
    if (!catalog)
        return 0;
    int opened = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
        const auto& list = catalog->SlotFiles(ch, slot);
        if (list.empty())
            continue;
        catalog->currentSlot[ch] = slot;
        catalog->currentFile[ch] = 0;
        // A first file that cannot be opened is kept without its file, as
        // the walk keeps one: the thread's first read walks on to the next
        // file, whose frames wait for their time.
        opened += OpenReader(ch, list[0], false) ? 1 : 0;
        readers_[ch]->Reset();
        playing_[ch] = 1;
        readers_[ch]->catalogSlot = slot;
        readers_[ch]->catalogDay = startDay;
        readers_[ch]->catalogMonth = startMonth_;
        if (announce)
            AnnounceFile(ch);
        StartThread(ch);
    }
    return opened;
}

bool CLocalPlayback::JoinPlayback(int channel, int slot, int day, int month)
{
    CRecordCatalog* catalog = Catalog(month, day);
    if (!catalog || playing_[channel] || slot < 0 || slot >= kSlots)
        return false;
    const auto& list = catalog->SlotFiles(channel, slot);
    if (list.empty())
        return false;
    playing_[channel] = 1;
    catalog->currentSlot[channel] = slot;
    catalog->currentFile[channel] = 0;
    // Kept without its file when that cannot be opened: the thread's first
    // read walks on to the next one.
    OpenReader(channel, list[0], false);
    ApplyMode(*readers_[channel], playback::state.load());
    readers_[channel]->catalogSlot = slot;
    readers_[channel]->catalogDay = day;
    readers_[channel]->catalogMonth = month;
    AnnounceFile(channel);
    StartThread(channel);
    return true;
}

void CLocalPlayback::OpenPlaybackFiles(int slot, int day, int month)
{
    for (int s = std::max(slot, 0); s <= slot + 1 && s < kSlots; ++s)
        for (int ch = 0; ch < kChannels; ++ch)
            JoinPlayback(ch, s, day, month);
}

void CLocalPlayback::OpenLaterFiles(int slot, int day, int month)
{
    for (int ch = 0; ch < kChannels; ++ch) {
        int s = slot, d = day, m = month;
        while (!playing_[ch] && m <= startMonth_ + 1) {
            if (CRecordCatalog* catalog = Catalog(m, d))
                for (; s < kSlots; ++s)
                    if (!catalog->SlotFiles(ch, s).empty()) {
                        JoinPlayback(ch, s, d, m);
                        break;
                    }
            if (playing_[ch])
                break;
            s = 0;
            if (++d >= kDaysPerBlock) {
                d = 0;
                ++m;
            }
        }
    }
}

CLocalPlayback::FileMove CLocalPlayback::OpenNextDayFile(int channel)
{
    ReaderPtr reader = readers_[channel];
    if (!reader)
        return FileMove::End;
    CatalogWalk walk(*reader);
    int &slot = walk.slot, &day = walk.day, &month = walk.month;
    const std::string& current = walk.current;
    for (;;) {
        OpenPlaybackFiles(slot, day, month);
        if (slot >= kSlots) {
            slot = 0;
            ++day;
        }
        CRecordCatalog* catalog = Catalog(month, day);
        std::string path;
        const std::time_t currentStart = catalog ? catalog->StartTime(current) : 0;
        if (catalog && currentStart != 0) {
            // Within the day of the file just played, the next file is the
            // one that began next: half-hour slots follow the local clock,
            // which repeats an hour on a daylight-saving night.
            for (const std::string& candidate : catalog->ChannelFiles(channel)) {
                if (catalog->StartTime(candidate) <= currentStart)
                    continue;
                const int s = std::clamp(CRecordCatalog::ParseFileName(vyrmovie::BaseName(candidate)), 0, kSlots - 1);
                const auto& list = catalog->SlotFiles(channel, s);
                const auto at = std::find(list.begin(), list.end(), candidate);
                path = candidate;
                slot = s;
                catalog->currentSlot[channel] = s;
                catalog->currentFile[channel] = at == list.end() ? 0 : static_cast<int>(at - list.begin());
                lastForwardSlot_ = s;
                break;
            }
        } else if (catalog) {
            const int f = catalog->currentFile[channel];
            const auto& list = catalog->SlotFiles(channel, std::min(slot, kSlots - 1));
            // Compared without adding to f, which a rewind may have left at
            // the day's end.
            if (f >= -1 && f < static_cast<int>(list.size()) - 1) {
                path = list[static_cast<std::size_t>(f + 1)];
                catalog->currentSlot[channel] = slot;
                catalog->currentFile[channel] = f + 1;
                // Also within a slot, so that a rewind after the end seeks
                // back to where playback last was.
                lastForwardSlot_ = slot;
            } else {
                for (int s = slot + 1; s < kSlots; ++s) {
                    const auto& later = catalog->SlotFiles(channel, s);
                    if (later.empty())
                        continue;
                    path = later[0];
                    slot = s;
                    catalog->currentSlot[channel] = s;
                    catalog->currentFile[channel] = 0;
                    lastForwardSlot_ = s;
                    break;
                }
            }
        }
        if (path.empty()) {
            if (day < kDaysPerBlock - 1) {
                ++day;
                slot = 0;
                if (CRecordCatalog* next = Catalog(month, day))
                    next->currentFile[channel] = -1;
                continue;
            }
            if (++month > startMonth_ + 1) {
                month = startMonth_ + 2; // stays past the end, however often asked
                walk.Store();
                reader->SetEndFlag(CMovieFileReader::END_OF_FILE);
                endReached_ = 1;
                return FileMove::End;
            }
            day = 0;
            slot = 0;
            continue;
        }
        // A file that covers two half-hours stands in both lists: the one
        // just played is passed over.
        if (path == current)
            continue;
        walk.Store();
        if (!OpenReader(channel, path, true) && !OpenReader(channel, path, true))
            return FileMove::Unopenable; // kept without a file: its next read moves on again
        return FileMove::Opened;
    }
}

CLocalPlayback::FileMove CLocalPlayback::OpenAdjacentFile(int channel)
{
    if (endReached_.load()) {
        SleepMs(10);
        SeekAllToTime(lastForwardSlot_, static_cast<std::time_t>(lastFrameTime_.load()));
        SleepMs(100);
        PlayFile(3);
        endReached_ = 0;
        const ReaderPtr moved = readers_[channel];
        if (moved && moved->HasFile())
            return FileMove::Opened;
    }
    ReaderPtr reader = readers_[channel];
    if (!reader)
        return FileMove::End;
    CatalogWalk walk(*reader);
    int &slot = walk.slot, &day = walk.day, &month = walk.month;
    const std::string& current = walk.current;
    for (;;) {
        if (day <= 0) {
            --month;
            if (month < startMonth_ - 1) {
                month = startMonth_ - 1;
                walk.Store();
                // A seek of all channels while rewinding may have left the
                // reader past its first key frame, which the next step back
                // passes over: Play begins at the first frame whatever the
                // rewind last showed.
                reader->SeekRecord(0);
                reader->SetEndFlag(CMovieFileReader::END_AT_START);
                return FileMove::End;
            }
            day = kDaysPerBlock - 2;
            slot = kSlots - 1;
            if (CRecordCatalog* previous = Catalog(month, day))
                previous->currentFile[channel] = kFromTheDaysEnd;
            continue;
        }
        OpenPlaybackFiles(slot, day, month);
        slot = std::min(slot, kSlots - 1);
        CRecordCatalog* catalog = Catalog(month, day);
        std::string path;
        if (catalog) {
            const int f = catalog->currentFile[channel];
            const auto& list = catalog->SlotFiles(channel, slot);
            const int n = static_cast<int>(list.size());
            if (f > 0 && f - 1 < n) {
                path = list[static_cast<std::size_t>(f - 1)];
                catalog->currentSlot[channel] = slot;
                catalog->currentFile[channel] = f - 1;
            } else {
                for (int s = f > 0 ? slot : slot - 1; s >= 0; --s) {
                    const auto& earlier = catalog->SlotFiles(channel, s);
                    if (earlier.empty())
                        continue;
                    path = earlier[0];
                    slot = s;
                    catalog->currentSlot[channel] = s;
                    catalog->currentFile[channel] = 0;
                    break;
                }
            }
        }
        if (path.empty()) {
            --day;
            slot = kSlots - 1;
            if (CRecordCatalog* previous = Catalog(month, day))
                previous->currentFile[channel] = kFromTheDaysEnd;
            continue;
        }
        if (path == current)
            continue;
        walk.Store();
        if (OpenReader(channel, path, true)) {
            readers_[channel]->SeekLastKeyFrame();
            return FileMove::Opened;
        }
        if (catalog) {
            const auto& list = catalog->SlotFiles(channel, slot);
            catalog->currentSlot[channel] = slot;
            catalog->currentFile[channel] = 0;
            if (!list.empty() && OpenReader(channel, list[0], true)) {
                readers_[channel]->SeekLastKeyFrame();
                return FileMove::Opened;
            }
        }
        // Passed over as the forward walk passes over such a file: the reader
        // is kept without it, and its next read walks on back.
        return FileMove::Unopenable;
    }
}

void CLocalPlayback::SeekAllToTime(int slot, std::time_t time)
{
    std::tm local{};
    localtime_r(&time, &local);
    const int month = MonthNumber(local.tm_year + 1900, local.tm_mon + 1);
    endReached_ = 0;
    // The catalogues follow the start month wherever it moves.
    if (month != startMonth_ || catalogDirectory_ != recordDirectory_)
        FillCatalogs(time);
    PauseAllReaders();
    SleepMs(10);
    OpenStartFiles(slot, local.tm_mday, false);
    for (auto& reader : readers_)
        if (reader) {
            reader->SeekTime(static_cast<int32_t>(time), 0);
            reader->catalogDay = local.tm_mday;
        }
    SelectEarliestChannel();
}

// ---- the playback thread -------------------------------------------------------------

bool CLocalPlayback::WaitForFrame(platform::WorkerThread& self, int channel, int64_t dueInMs,
                                  int64_t referenceSeconds)
{
    std::atomic<int>& release = playback::releaseFlags[static_cast<std::size_t>(channel)];
    for (;;) {
        if (self.StopRequested())
            return false;
        const int64_t baseWall = playback::baseWallMs.load();
        // Another reference, or none, makes the due time another one: the
        // caller measures the frame again.
        if (playback::baseSeconds.load() != referenceSeconds || Idle(playback::state.load()))
            return true;
        // The deadline comes from this one look at the clock, so however
        // late the wait begins it ends when the frame is due.
        const int64_t due = baseWall + dueInMs, now = NowMs();
        if (now >= due)
            return true;
        if (release.exchange(0) == 1)
            return true;
        BeforeWait(channel, due - now);
        // Asleep until the frame is due; a release, a new reference, a
        // change of mode or a stop wakes it sooner.
        self.WaitUntilMs(due);
    }
}

void CLocalPlayback::WaitForReference(platform::WorkerThread& self, int channel, int limitMs)
{
    const int64_t until = NowMs() + limitMs;
    // The master's first frame (its wake), a pause or a stop ends it.
    for (int64_t now = NowMs(); playback::baseSeconds.load() == 0 && !self.StopRequested() &&
                                !Idle(playback::state.load()) && now < until;
         now = NowMs()) {
        BeforeWait(channel, until - now);
        self.WaitUntilMs(until);
    }
}

void CLocalPlayback::ThreadProc(platform::WorkerThread& self, int channel)
{
    pthread_setname_np(pthread_self(), "vyr-playback");
    XvidDecoder decoder;
    if (!CVyrdaxCtrl::CreateDecoder(decoder))
        return;
    ThreadState state;
    state.input.assign(kStreamHeaderSize + vyrmovie::kFrameBufferSize, 0);

    while (!self.StopRequested()) {
        const ReaderPtr reader = Reader(channel);
        if (!reader)
            break;
        const int mode = playback::state.load();
        if (Idle(mode)) {
            self.Wait(); // until the mode changes
            continue;
        }
        const int result = reader->ReadNext();
        if (result != 1) {
            // Paused or reset, not at an end: a reader between two modes.
            // Whoever sets the readers' state or the mode wakes the thread
            // after the change; a new reader comes in the mode of the time.
            if (result == 0 && reader->EndFlag() == CMovieFileReader::END_NONE)
                self.Wait();
            else
                MoveToAdjacentFile(self, channel, mode == PLAY_REWINDING);
            continue;
        }

        const MovieFrameHeader header = reader->CurrentHeader();
        lastFrameTime_ = header.seconds;
        bool isMaster = playback::masterChannel.load() == channel;
        if (isMaster && IsGap(state.lastReadSeconds, header.seconds, mode)) {
            SelectMasterChannel(mode != PLAY_REWINDING, 0, kChannels - 1, state.lastReadSeconds);
            isMaster = playback::masterChannel.load() == channel;
        }
        state.lastReadSeconds = header.seconds;
        if (isMaster)
            playback::masterFrameSeconds = header.seconds;
        if (!IsValidPackedTime(header) || header.width > vyrmovie::kMaxPictureWidth ||
            header.height > vyrmovie::kMaxPictureHeight || !DecodeFrame(state, decoder, *reader))
            continue;
        if (isMaster)
            playback::masterHeight = decoder.Height();
        const bool show = PaceFrame(self, channel, header, reader->ChannelName(), state);
        if (self.StopRequested())
            break;
        if (show)
            DrawFrame(channel, decoder, header, reader->ChannelName());
        else
            ResetChannelDisplay(channel, reader->ChannelName());
    }
}

void CLocalPlayback::MoveToAdjacentFile(platform::WorkerThread& self, int channel, bool rewinding)
{
    const ReaderPtr before = Reader(channel);
    const std::string name = before ? before->ChannelName() : std::string();
    FileMove move;
    {
        std::lock_guard<std::recursive_mutex> lock(playbackLock_);
        move = rewinding ? OpenAdjacentFile(channel) : OpenNextDayFile(channel);
    }
    if (playback::masterChannel.load() == channel) {
        ReleasePlayThreads();
        SelectMasterChannel(!rewinding, 0, kChannels - 1, playback::masterFrameSeconds.load());
    }
    switch (move) {
    case FileMove::Opened: self.SleepFor(10); break;
    case FileMove::Unopenable:
        // Black for the span of the file that cannot be played; the next
        // read finds no file and the walk goes on to the one after (before)
        // it, whose frames then wait for their time.
        ResetChannelDisplay(channel, rewinding ? std::string(text::kFailToLoadFile) : name);
        break;
    case FileMove::End:
        ResetChannelDisplay(channel, name);
        // Nothing more to open until the operator moves: a new mode, a
        // reader's new state, a seek, a new master or a new start, each of
        // which wakes the thread.
        self.Wait();
        break;
    }
}

bool CLocalPlayback::DecodeFrame(ThreadState& state, XvidDecoder& decoder, const CMovieFileReader& reader)
{
    const MovieFrameHeader& header = reader.CurrentHeader();
    // The stream header goes in front of the first frame and of every change
    // of picture size.
    const uint32_t length = reader.PayloadLength();
    std::size_t position = 0;
    if (state.first || header.width != state.lastWidth || header.height != state.lastHeight) {
        const StreamHeader streamHeader =
            vyrmovie::RecordedStreamHeader(header, reader.Payload(), reader.PayloadLength());
        std::memcpy(state.input.data(), streamHeader.data(), streamHeader.size());
        position = streamHeader.size();
    }
    state.first = false;
    state.lastWidth = header.width;
    state.lastHeight = header.height;
    std::memcpy(state.input.data() + position, reader.Payload(), length);
    const int total = static_cast<int>(position + length);
    std::memset(state.input.data() + total, 0, vyrmovie::kFramePadding);

    bool picture = false;
    int at = 0;
    for (int call = 0; call < kDecodeCalls && at < total; ++call) {
        // Only the bytes still ahead are handed over; the zeroed padding
        // behind them covers the decoder's read-ahead.
        const XvidDecoder::Result r = decoder.Decode(state.input.data() + at, total - at);
        if (r.consumed <= 0)
            break;
        at += r.consumed;
        if (r.type > 0) {
            picture = true;
            break;
        }
    }
    const int width = decoder.Width(), height = decoder.Height();
    return picture && width > 0 && height > 0 && width <= vyrmovie::kMaxPictureWidth &&
           height <= vyrmovie::kMaxPictureHeight;
}

bool CLocalPlayback::PaceFrame(platform::WorkerThread& self, int channel, const MovieFrameHeader& header,
                               const std::string& name, ThreadState& state)
{
    for (int round = 0;; ++round) {
        const int mode = playback::state.load();
        const int64_t d = FastDivisor(mode);
        const int master = playback::masterChannel.load();
        const ReaderPtr masterReader = Reader(master);
        // Until the master has shown its frame there is nothing to pace by.
        if (playback::baseSeconds.load() == 0 && channel != master && masterReader &&
            masterReader->EndFlag() == CMovieFileReader::END_NONE)
            WaitForReference(self, channel, kReferenceWaitMs);
        const int64_t rs = playback::baseSeconds.load();
        const int64_t ru = playback::baseMicroseconds.load();
        int64_t offset;
        if (StepMode(mode))
            offset = state.previousOffset;
        else if (rs == 0)
            offset = 0;
        else if (mode == PLAY_REWINDING)
            offset = (ru - header.microseconds) / 1000 + (rs - header.seconds) * 1000;
        else
            offset = (static_cast<int64_t>(header.microseconds) - ru) / 1000 + (header.seconds - rs) * 1000;
        offset = std::max<int64_t>(offset, 0);
        state.previousOffset = offset;
        const int64_t elapsed = rs == 0 ? 0 : NowMs() - playback::baseWallMs.load();
        const int64_t masterSeconds = playback::masterFrameSeconds.load();
        // Frames far out of step clear the pane before they are shown.
        bool outOfStep = offset / d - elapsed > 5000;
        if (mode == PLAY_PLAYING && header.seconds > masterSeconds + 15)
            outOfStep = true;
        if (mode == PLAY_FAST_FORWARD && header.seconds > masterSeconds + 165)
            outOfStep = true;
        if (mode == PLAY_REWINDING && (state.previousSeconds > header.seconds + d + 165 || offset / d > elapsed + 165))
            outOfStep = true;
        if (outOfStep && round == 0)
            ResetChannelDisplay(channel, name);
        playback::releaseFlags[static_cast<std::size_t>(channel)] = 0;
        if (rs == 0 || !WaitForFrame(self, channel, offset / d, rs))
            break;
        // A release means a new reference is coming: measure again against
        // it rather than show the frame early, however many come while a
        // channel whose recording begins later waits for its first frame.
        if (playback::baseSeconds.load() == rs || Idle(playback::state.load()))
            break;
    }
    state.previousSeconds = header.seconds;
    {
        std::lock_guard<std::recursive_mutex> lock(playback::globalLock);
        if (playback::masterChannel.load() == channel && playback::baseSeconds.load() == 0) {
            playback::baseMicroseconds = header.microseconds;
            playback::baseWallMs = NowMs();
            playback::baseChannel = channel;
            playback::baseSeconds = header.seconds;
            playback::WakeWaiters(); // the channels that wait for a reference
        }
    }
    // Far behind the master in play, or ahead of it while paused: not shown.
    const int mode = playback::state.load();
    const int64_t masterSeconds = playback::masterFrameSeconds.load();
    return !((mode == PLAY_PLAYING && header.seconds < masterSeconds - 15) ||
             (mode == PLAY_PAUSED && header.seconds > masterSeconds + 2));
}

void CLocalPlayback::DrawFrame(int channel, XvidDecoder& decoder, const MovieFrameHeader& header,
                               const std::string& name)
{
    const int width = decoder.Width(), height = decoder.Height();
    uint8_t* Y = decoder.Picture();
    uint8_t* U = Y + static_cast<std::size_t>(width) * height;
    uint8_t* V = U + static_cast<std::size_t>(width / 2) * (height / 2);
    // A 480-line master switches deinterlacing on for every channel.
    if (playback::masterHeight.load() == 480)
        Deinterlace(width, height, Y, U, V);
    char title[600];
    std::snprintf(title, sizeof title, " %s %04d/%02d/%02d %02d:%02d:%02d  ", name.c_str(),
                  vyrmovie::RecordingYear(header.year), header.month, header.day, header.hour, header.minute,
                  header.second);
    control_.SetChannelStatus(title, channel);
    ChannelSlot& slot = control_.Channel(channel);
    {
        std::lock_guard<std::recursive_mutex> lock(slot.displayLock);
        if (CVideoPane* pane = slot.pane.data()) {
            pane->ShowYV12Frame(Y, U, V, width, height);
            pane->PresentFrame();
        }
    }
    const int64_t shownMs = static_cast<int64_t>(header.seconds) * 1000 + header.microseconds / 1000;
    shownFrameMs_[channel] = shownMs;
    ++framesShown_[channel];
    if (keepShownTimes_.load()) {
        std::lock_guard<std::mutex> lock(shownTimesLock_);
        shownTimes_[static_cast<std::size_t>(channel)].push_back(shownMs);
    }
}

} // namespace vyrdax
