#include "CZoPlayerView.h"

#include "CVideoWnd.h"
#include "CellLayout.h"
#include "PlayerSkin.h"
#include "control/filter/Deinterlace.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/SkinResources.h"

#include <QPainter>

#include <chrono>
#include <thread>

namespace zoplayer {

namespace {

constexpr int kStatusPaneAuthenticity = 2;
constexpr int kStatusPaneMachineId = 4;
constexpr int kStatusPaneSavedTime = 6;
constexpr int kBaseChoiceLastCell = 32;

struct ButtonPlace {
    int id, x, y, width, height, bitmapIn, bitmapOut;
    const char* tooltip;
};

constexpr ButtonPlace kButtons[13] = {
    {IDC_PLAY, 20, 11, 35, 30, 150, 149, "Play"},
    {IDC_STOP, 57, 11, 35, 30, 140, 153, "Stop"},
    {IDC_PAUSE, 94, 11, 35, 30, 148, 147, "Pause"},
    {IDC_REWIND, 131, 11, 35, 30, 151, 152, "Rewind"},
    {IDC_FAST_FORWARD, 168, 11, 35, 30, 154, 155, "Fast Forward"},
    {IDC_STEP_BACK, 205, 11, 35, 30, 169, 168, "1 Frame Forward"},
    {IDC_STEP_FORWARD, 240, 11, 35, 30, 171, 170, "1 Frame Forward"},
    {IDC_SPLIT4, 550, 8, 48, 38, 141, 142, "4 Split Mode"},
    {IDC_SPLIT9, 603, 8, 48, 38, 143, 144, "9 Split Mode"},
    {IDC_SPLIT16, 656, 8, 48, 38, 145, 146, "16 Split Mode"},
    {IDC_SPLIT32, 709, 8, 48, 38, 174, 175, "32 Split Mode"},
    {IDC_SPLIT64, 762, 8, 48, 38, 179, 178, "64 Split Mode"},
    {IDC_NEXT, 815, 8, 48, 38, 164, 166, "Next"},
};

// Top left, top edge, top right, left edge, right edge, bottom left,
// bottom edge, bottom right.
constexpr int kSkinIds[8] = {156, 130, 159, 134, 135, 160, 133, 132};

} // namespace

CZoPlayerView::CZoPlayerView(QWidget* parent, std::string folder, PaneWriter panes)
    : QWidget(parent), folderPath_(std::move(folder)), panes_(std::move(panes))
{
    vyrdax::InitDeinterlace(1, 73);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CZoPlayerView::~CZoPlayerView()
{
    if (engine_)
        engine_->StopThreads();
}

CButtonST* CZoPlayerView::Button(int id) const
{
    for (CButtonST* b : buttons_)
        if (b && b->GetDlgCtrlID() == id)
            return b;
    return nullptr;
}

void CZoPlayerView::MakeButtons()
{
    for (std::size_t i = 0; i < 13; ++i) {
        const ButtonPlace& place = kButtons[i];
        auto* button = new CButtonST(this, place.id);
        button->setGeometry(place.x, place.y, place.width, place.height);
        button->SetBitmaps(PlayerBitmap(place.bitmapIn), QColor(0, 255, 255), PlayerBitmap(place.bitmapOut),
                           QColor(255, 0, 255));
        button->SetTransparentDraw(false);
        button->SetTooltipText(QString::fromLatin1(place.tooltip), true);
        button->show();
        buttons_[i] = button;
        const int id = place.id;
        connect(button, &QPushButton::clicked, this, [this, id] {
            switch (id) {
            case IDC_PLAY: OnPlay(); break;
            case IDC_STOP: OnStop(); break;
            case IDC_PAUSE: OnPause(); break;
            case IDC_REWIND: OnRewind(); break;
            case IDC_FAST_FORWARD: OnFastForward(); break;
            case IDC_STEP_BACK: OnStepBack(); break;
            case IDC_STEP_FORWARD: OnStepForward(); break;
            case IDC_SPLIT4: OnLayout(4); break;
            case IDC_SPLIT9: OnLayout(9); break;
            case IDC_SPLIT16: OnLayout(16); break;
            case IDC_SPLIT32: OnLayout(32); break;
            case IDC_SPLIT64: OnLayout(64); break;
            case IDC_NEXT: OnNext(); break;
            default: break;
            }
        });
    }
    ShowStepButtons(false);
}

bool CZoPlayerView::OnInitialUpdate(int* exitCode)
{
    for (std::size_t i = 0; i < 8; ++i)
        skin_[i] = PlayerBitmap(kSkinIds[i]);
    MakeButtons();

    folder_ = OpenBackupFolder(folderPath_);
    if (folder_.outcome == OpenedFolder::kNoBackupFile || folder_.outcome == OpenedFolder::kNoIndexFile) {
        platform::MessageBox(this, folder_.outcome == OpenedFolder::kNoBackupFile ? kNoBackupFileText : kNoIndexFileText,
                             "ZoPlayer");
        *exitCode = 0;
        return false;
    }
    if (!folder_.machineId.empty()) {
        panes_(kStatusPaneMachineId, QString::fromLatin1(folder_.machineId.c_str()));
        panes_(kStatusPaneSavedTime, QString::fromLatin1(folder_.savedTime.c_str()));
    }
    panes_(kStatusPaneAuthenticity, QString::fromLatin1(folder_.authenticityText.c_str()));
    splitMode_ = folder_.splitMode > 0 ? folder_.splitMode : splitMode_;

    std::array<ChannelWindow*, kEngineChannels> sinks{};
    for (int t = 0; t < kEngineChannels; ++t) {
        auto* window = new CVideoWnd(this, t);
        window->setProperty("controlId", kVideoWindowIdBase + t);
        connect(window, &CVideoWnd::Notify, this, [this](int message, int cell, int) {
            if (message == kVideoDoubleClickMessage)
                OnVideoDoubleClick(cell);
        });
        windows_[static_cast<std::size_t>(t)] = window;
        sinks[static_cast<std::size_t>(t)] = window;
    }
    std::vector<CMovieFileReader*> readers;
    for (auto& reader : folder_.readers)
        readers.push_back(reader.get());
    engine_ = std::make_unique<PlaybackEngine>(readers, sinks, clock_);
    engine_->splitMode = splitMode_;
    if (!engine_->CreateDecoders()) {
        platform::MessageBox(this, "Decoder Initialization Failed", "ZoPlayer");
        *exitCode = -1;
        return false;
    }
    lastLayoutButton_ = splitMode_;
    LayOutWindows();
    engine_->StartThreads();
    engine_->ChooseEarliestBaseChannel();
    OnPlay();
    initialised_ = true;
    update();
    return true;
}

void CZoPlayerView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = height();
    p.fillRect(rect(), QColor(20, 42, 72));
    auto piece = [&](int i, const QRect& target) {
        const QImage& image = skin_[static_cast<std::size_t>(i)];
        if (!image.isNull() && target.width() > 0 && target.height() > 0)
            p.drawImage(target, image, image.rect());
    };
    auto natural = [&](int i, int x, int y) {
        const QImage& image = skin_[static_cast<std::size_t>(i)];
        piece(i, QRect(x, y, image.width(), image.height()));
    };
    natural(0, 0, 0);
    piece(1, QRect(17, 0, W - 35, skin_[1].height()));
    natural(2, W - 18, 0);
    piece(3, QRect(0, 55, skin_[3].width(), H - 107));
    piece(4, QRect(W - 13, 55, skin_[4].width(), H - 52 - 55 + 3));
    natural(5, 0, H - 52);
    piece(6, QRect(13, H - 52, W - 173 - 13, skin_[6].height()));
    natural(7, W - 173, H - 52);
}

void CZoPlayerView::resizeEvent(QResizeEvent*)
{
    if (initialised_)
        LayOutWindows();
}

void CZoPlayerView::LayOutWindows()
{
    const int split = SplitMode();
    const int start = PageStart();
    for (int i = 0; i < kEngineChannels; ++i) {
        CVideoWnd* window = windows_[static_cast<std::size_t>(i)];
        if (!window)
            continue;
        const QRect cell = i < start ? QRect() : CellRect(split, i - start, width(), height());
        if (cell.isEmpty()) {
            window->hide();
            continue;
        }
        window->setGeometry(cell);
        window->show();
    }
}

void CZoPlayerView::ShowStepButtons(bool show)
{
    for (int id : {IDC_STEP_BACK, IDC_STEP_FORWARD})
        if (CButtonST* b = Button(id))
            b->setVisible(show);
}

void CZoPlayerView::EveryReader(const std::function<void(CMovieFileReader&)>& action)
{
    for (auto& reader : folder_.readers)
        action(*reader);
    // A thread that found its reader in the old state waits for the new one.
    if (engine_)
        engine_->WakeThreads();
}

void CZoPlayerView::Wait10ms()
{
    // Gives the playback threads a round to see a new state.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool CZoPlayerView::LayoutPauseHolds()
{
    if (layoutTimer_.isValid() && layoutTimer_.elapsed() < kLayoutPauseMs)
        return true;
    layoutTimer_.start();
    return false;
}

void CZoPlayerView::ShowAuthenticity(int status)
{
    panes_(kStatusPaneAuthenticity, QString::fromLatin1(AuthenticityText(status)));
}

void CZoPlayerView::OnPlay()
{
    if (!engine_)
        return;
    ShowStepButtons(false);
    PlaybackEngine& e = *engine_;
    if (e.splitMode == 1) {
        const int c = e.CellChannel(e.pageStart);
        if (c >= 0) {
            e.SetBaseChannel(c);
            if (e.Reader(c)->EndFlag() == kAtEnd) {
                OnStop();
                Wait10ms();
            }
        }
        e.ResetBaseClock();
    }
    if (e.AllChannelsFinished()) {
        OnStop();
        Wait10ms();
    }
    switch (e.PlayState()) {
    case kPlaying:
        return;
    case kFastForward:
    case kRewind:
        OnPause();
        Wait10ms();
        e.SyncChannelsToBase();
        e.ResetBaseClock();
        break;
    case kStepForward:
    case kStepBack: {
        const int c = e.CellChannel(e.pageStart);
        if (c >= 0)
            e.SetBaseChannel(c);
        break;
    }
    default:
        e.ResetBaseClock();
        break;
    }
    EveryReader([](CMovieFileReader& r) { r.Play(); });
    speedLevel_ = 1;
    e.SetPlayState(kPlaying);
}

void CZoPlayerView::OnPause()
{
    if (!engine_)
        return;
    const int s = engine_->PlayState();
    if (s == kPaused || s == kStepForward || s == kStepBack)
        return;
    engine_->SetPlayState(kPaused);
    EveryReader([](CMovieFileReader& r) { r.Pause(); });
    if (engine_->splitMode == 1)
        ShowStepButtons(true);
}

void CZoPlayerView::OnStop()
{
    if (!engine_)
        return;
    engine_->SetPlayState(kStopped);
    Wait10ms();
    EveryReader([](CMovieFileReader& r) { r.Reset(); });
    if (engine_->splitMode != 1)
        engine_->ChooseEarliestBaseChannel();
}

void CZoPlayerView::OnRewind()
{
    PlayFast(kRewind, [](CMovieFileReader& r, int level) { r.Rewind(level); });
}

void CZoPlayerView::OnFastForward()
{
    PlayFast(kFastForward, [](CMovieFileReader& r, int level) { r.FastForward(level); });
}

void CZoPlayerView::PlayFast(int state, const std::function<void(CMovieFileReader&, int)>& setLevel)
{
    if (!engine_)
        return;
    PlaybackEngine& e = *engine_;
    if (e.splitMode == 1)
        ShowStepButtons(false);
    const int s = e.PlayState();
    // Pressed again, the same direction goes one level faster.
    if (s == state) {
        speedLevel_ = std::min(speedLevel_ + 1, 3);
    } else {
        if (s == kStepForward || s == kStepBack) {
            const int c = e.CellChannel(e.pageStart);
            if (c >= 0)
                e.SetBaseChannel(c);
        }
        speedLevel_ = 1;
    }
    e.SetPlayState(state);
    const int level = speedLevel_;
    EveryReader([&setLevel, level](CMovieFileReader& r) { setLevel(r, level); });
    Wait10ms();
    e.ResetBaseClock();
}

void CZoPlayerView::OnStepForward()
{
    if (!engine_)
        return;
    const int c = engine_->CellChannel(engine_->pageStart);
    if (c < 0)
        return;
    engine_->Reader(c)->StepForward();
    engine_->SetPlayState(kStepForward);
}

void CZoPlayerView::OnStepBack()
{
    if (!engine_)
        return;
    const int c = engine_->CellChannel(engine_->pageStart);
    if (c < 0)
        return;
    engine_->Reader(c)->Step();
    engine_->SetPlayState(kStepBack);
}

void CZoPlayerView::OnLayout(int layout)
{
    if (!engine_)
        return;
    PlaybackEngine& e = *engine_;
    if (lastLayoutButton_ != 1 && LayoutPauseHolds())
        return;
    if (lastLayoutButton_ == 1)
        layoutTimer_.start();
    if (e.splitMode == layout)
        return;
    lastLayoutButton_ = layout;
    e.splitMode = layout;
    e.pageStart = 0;
    ShowStepButtons(false);
    if (CButtonST* b = Button(IDC_STEP_BACK))
        b->move(205, 11);
    LayOutWindows();
    if (!e.AllChannelsFinished()) {
        if (layout == 4) {
            e.SyncChannelsToBase();
            e.ResetBaseClock();
        } else {
            if (layout == 9)
                e.SyncChannelsToBase();
            const int c = e.CellChannel(0);
            if (c >= 0)
                e.SetRefresh(c);
        }
    }
    ShowAuthenticity(folder_.folderStatus);
}

void CZoPlayerView::OnNext()
{
    if (!engine_)
        return;
    PlaybackEngine& e = *engine_;
    e.pageStart = NextPageStart(e.splitMode, e.pageStart);
    const int c = e.CellChannel(e.pageStart);
    if (c >= 0)
        e.SetRefresh(c);
    LayOutWindows();
}

void CZoPlayerView::OnVideoDoubleClick(int cell)
{
    if (!engine_)
        return;
    PlaybackEngine& e = *engine_;
    const int c = e.CellChannel(cell);
    if (c < 0 || LayoutPauseHolds())
        return;
    ShowAuthenticity(folder_.channelStatus[static_cast<std::size_t>(c)]);
    if (e.splitMode != 1) {
        e.pageStart = cell;
        e.splitMode = 1;
        if (e.Reader(c)->EndFlag() == kNotAtEnd) {
            e.SetBaseChannel(c);
            Wait10ms();
            e.SyncChannelsToBase();
            e.SetRefresh(c);
            e.ResetBaseClock();
        } else if (e.Reader(c)->EndFlag() == kAtEnd) {
            OnStop();
            Wait10ms();
            e.SetBaseChannel(c);
            e.ResetBaseClock();
            OnPlay();
        }
        const int s = e.PlayState();
        if (s == kPaused || s == kStepForward || s == kStepBack)
            ShowStepButtons(true);
        LayOutWindows();
        return;
    }
    // Back from the single view to the layout it came from, on the page
    // that holds the cell.
    const int previous = lastLayoutButton_;
    lastLayoutButton_ = 1;
    const int layout = (previous == 4 || previous == 9 || previous == 16 || previous == 32) ? previous : 64;
    e.splitMode = 1; // so the layout change below is not the one shown
    OnLayout(layout);
    const int perPage = layout == 4 ? 4 : layout == 9 ? 8 : layout == 16 ? 16 : layout == 32 ? 32 : 0;
    if (perPage > 0)
        for (int k = 0; k < cell / perPage; ++k)
            OnNext();
    if (layout == 4 || layout == 9)
        e.SyncChannelsToBase();
    else
        e.ResetBaseClock();
}

} // namespace zoplayer
