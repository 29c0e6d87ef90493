// The player's windows: cell layouts, paging, the view on a synthetic
// backup folder with real pictures, the buttons and the double click.
#include "PlayerFolderWriter.h"
#include "RecordTestSupport.h"
#include "../support/RandomOperatorSeeds.h"

#include "player/view/CMainFrame.h"
#include "player/view/CVideoWnd.h"
#include "player/view/CZoPlayerView.h"
#include "player/view/CellLayout.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CButtonST.h"

#include <QApplication>
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

using namespace zoplayer;
using playertest::ChannelFiles;
using recordtest::TempDir;

namespace {

bool PumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}

bool HasPicture(const QImage& image)
{
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0)
                return true;
    return false;
}

struct BoxRecorder {
    BoxRecorder()
    {
        previous = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            texts.push_back(text);
            return platform::IDOK;
        });
    }
    ~BoxRecorder() { platform::SetMessageBoxHandler(previous); }
    std::vector<std::string> texts;
    platform::MessageBoxHandler previous;
};

void WriteFolder(const std::string& folder, int channels, int frames = 100)
{
    for (int c = 0; c < channels; ++c) {
        ChannelFiles files;
        files.slot = c;
        files.frames = frames;
        files.fps = 30;
        playertest::WriteChannel(folder, files);
    }
}

} // namespace

TEST(PlayerLayout, CellsShareTheViewWithRemaindersInTheLastColumnAndRow)
{
    // 1000 x 805: 976 x 700 for the grid.
    EXPECT_EQ(CellRect(1, 0, 1000, 805), QRect(QPoint(12, 54), QPoint(12 + 976 - 1, 54 + 700 - 1)));
    EXPECT_TRUE(CellRect(1, 1, 1000, 805).isEmpty());
    // 3 columns: 325 each with 1 over, rows of 233 with 1 over.
    EXPECT_EQ(CellRect(9, 0, 1000, 805), QRect(12, 54, 325, 233));
    EXPECT_EQ(CellRect(9, 8, 1000, 805), QRect(12 + 650, 54 + 466, 326, 234));
    EXPECT_TRUE(CellRect(9, 9, 1000, 805).isEmpty());
    EXPECT_EQ(CellRect(6, 0, 1000, 805), QRect(12, 54, 650, 466));
    EXPECT_EQ(CellRect(6, 1, 1000, 805), QRect(12 + 650, 54, 326, 233));
    EXPECT_EQ(CellRect(6, 5, 1000, 805), QRect(12 + 650, 54 + 466, 326, 234));
    EXPECT_EQ(CellRect(10, 1, 1000, 805), QRect(12 + 488, 54, 488, 350));
    EXPECT_EQ(CellRect(10, 9, 1000, 805), QRect(12 + 732, 54 + 525, 244, 175));
    // Split mode 5 lays out like the 64-cell grid.
    EXPECT_EQ(CellRect(5, 4, 1000, 805), CellRect(64, 4, 1000, 805));
    EXPECT_EQ(ColumnsOfSplit(32), 6);
}

TEST(PlayerLayout, NextMovesByTheLayoutsPageAndWrapsAt64)
{
    EXPECT_EQ(NextPageStart(9, 0), 8);
    EXPECT_EQ(NextPageStart(9, 56), 0);
    EXPECT_EQ(NextPageStart(4, 60), 0);
    EXPECT_EQ(NextPageStart(1, 63), 0);
    EXPECT_EQ(NextPageStart(32, 32), 0);
    EXPECT_EQ(NextPageStart(64, 0), 0);
    EXPECT_EQ(NextPageStart(6, 0), 0);
}

TEST(PlayerView, AFolderWithoutMoviesEndsWithItsBox)
{
    BoxRecorder boxes;
    TempDir dir;
    CMainFrame frame(dir.path());
    int exitCode = 7;
    EXPECT_FALSE(frame.View()->OnInitialUpdate(&exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"No Backup File Exist"});
}

TEST(PlayerView, TheViewPlaysEveryChannelInItsCellAndFillsTheStatusBar)
{
    BoxRecorder boxes;
    TempDir dir;
    WriteFolder(dir.path(), 4);
    CMainFrame frame(dir.path());
    frame.show();
    EXPECT_GE(frame.width(), 1024);
    EXPECT_GE(frame.height(), 768);
    EXPECT_EQ(frame.minimumSize(), QSize(1024, 768));
    EXPECT_EQ(frame.windowTitle(), "Zo Player");
    int exitCode = 0;
    ASSERT_TRUE(frame.View()->OnInitialUpdate(&exitCode));
    CZoPlayerView* view = frame.View();
    EXPECT_EQ(view->SplitMode(), 4);
    EXPECT_EQ(frame.PaneText(2), "This is an Authenticated Image.");
    EXPECT_EQ(frame.PaneText(6), "2026/12/31 11:22:33");
    EXPECT_EQ(frame.PaneText(1), "Athentication Status");
    EXPECT_EQ(frame.PaneText(7), "  ZOP64  Version 4.21");
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (int c = 0; c < 4; ++c)
                if (!HasPicture(view->VideoWindow(c)->Picture()))
                    return false;
            return true;
        },
        20000));
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(view->VideoWindow(c)->isVisible());
        EXPECT_EQ(view->VideoWindow(c)->geometry(), CellRect(4, c, view->width(), view->height()));
        EXPECT_EQ(view->VideoWindow(c)->Title().left(6), QString(" CH%1 ").arg(c + 1, 2, 10, QChar('0')));
    }
    EXPECT_FALSE(view->VideoWindow(4)->isVisible());
    EXPECT_FALSE(view->Button(IDC_STEP_BACK)->isVisible());
    const QImage shot = frame.grab().toImage();
    const QRect cell3 = CellRect(4, 3, view->width(), view->height()).translated(view->mapTo(&frame, QPoint(0, 0)));
    EXPECT_TRUE(HasPicture(shot.copy(cell3.adjusted(2, 14, -2, -2))));
    if (const char* out = std::getenv("ZOPLAYER_SHOT"))
        shot.save(QString::fromLocal8Bit(out));
}

TEST(PlayerView, ButtonsChangeThePlayStateAndLayoutsPauseBetweenChanges)
{
    BoxRecorder boxes;
    TempDir dir;
    WriteFolder(dir.path(), 8, 200);
    CMainFrame frame(dir.path());
    frame.show();
    int exitCode = 0;
    ASSERT_TRUE(frame.View()->OnInitialUpdate(&exitCode));
    CZoPlayerView* view = frame.View();
    PlaybackEngine* e = view->Engine();
    EXPECT_EQ(view->SplitMode(), 9);
    // Every cell has its channel before the buttons: the double clicks
    // below need cell 5's, and a loaded machine may start its thread last.
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (int c = 0; c < 8; ++c)
                if (e->CellChannel(c) != c)
                    return false;
            return true;
        },
        5000));

    view->Button(IDC_FAST_FORWARD)->click();
    view->Button(IDC_FAST_FORWARD)->click();
    view->Button(IDC_FAST_FORWARD)->click();
    view->Button(IDC_FAST_FORWARD)->click();
    EXPECT_EQ(view->SpeedLevel(), 3);
    EXPECT_EQ(e->PlayState(), kFastForward);
    EXPECT_EQ(e->Reader(0)->StepSize(), 2);
    view->Button(IDC_PLAY)->click();
    EXPECT_EQ(e->PlayState(), kPlaying);
    EXPECT_EQ(view->SpeedLevel(), 1);
    view->Button(IDC_PAUSE)->click();
    EXPECT_EQ(e->PlayState(), kPaused);

    view->ForgetLastLayoutChange();
    view->OnLayout(16);
    EXPECT_EQ(view->SplitMode(), 16);
    view->OnLayout(4); // within 500 ms of the last change
    EXPECT_EQ(view->SplitMode(), 16);
    view->ForgetLastLayoutChange();
    view->OnLayout(9);
    EXPECT_EQ(view->SplitMode(), 9);
    view->OnNext();
    EXPECT_EQ(view->PageStart(), 8);
    EXPECT_FALSE(view->VideoWindow(7)->isVisible());
    view->OnNext();
    EXPECT_EQ(view->PageStart(), 16);

    // A double click on an empty cell does nothing; on a channel it opens
    // the single view, where the paused view offers the step buttons. Stop
    // first: a channel that fast forward took to its end would start again.
    view->OnStop();
    view->OnPause();
    EXPECT_EQ(e->PlayState(), kPaused);
    view->ForgetLastLayoutChange();
    view->OnVideoDoubleClick(40);
    EXPECT_EQ(view->SplitMode(), 9);
    view->ForgetLastLayoutChange();
    view->OnVideoDoubleClick(5);
    EXPECT_EQ(view->SplitMode(), 1);
    EXPECT_EQ(view->PageStart(), 5);
    EXPECT_TRUE(view->Button(IDC_STEP_FORWARD)->isVisibleTo(view));
    EXPECT_TRUE(view->VideoWindow(5)->isVisibleTo(view));
    EXPECT_EQ(view->VideoWindow(5)->geometry(), CellRect(1, 0, view->width(), view->height()));
    view->OnStepForward();
    EXPECT_EQ(e->PlayState(), kStepForward);
    // Back to the nine-cell layout, on the page that holds cell 5.
    view->ForgetLastLayoutChange();
    view->OnVideoDoubleClick(5);
    EXPECT_EQ(view->SplitMode(), 9);
    EXPECT_EQ(view->PageStart(), 0);
    EXPECT_TRUE(boxes.texts.empty());
}

TEST(PlayerView, AfterFastForwardReachesTheEndRewindAndPlayShowPicturesAgain)
{
    BoxRecorder boxes;
    TempDir dir;
    WriteFolder(dir.path(), 4, 60); // two seconds, six key frames a channel
    CMainFrame frame(dir.path());
    frame.show();
    int exitCode = 0;
    ASSERT_TRUE(frame.View()->OnInitialUpdate(&exitCode));
    CZoPlayerView* view = frame.View();
    PlaybackEngine* e = view->Engine();
    for (int k = 0; k < 3; ++k)
        view->Button(IDC_FAST_FORWARD)->click();
    auto allAtTheEnd = [&] {
        for (int c = 0; c < 4; ++c)
            if (e->Reader(c)->EndFlag() != kAtEnd)
                return false;
        return true;
    };
    ASSERT_TRUE(PumpUntil(allAtTheEnd, 10000));
    // Fast forward goes on past the end for a while.
    QTest::qWait(500);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(e->Reader(c)->KeyIndex(), e->Reader(c)->RecordCount()) << c;
    for (int k = 0; k < 3; ++k)
        view->Button(IDC_REWIND)->click();
    QTest::qWait(600);
    view->Button(IDC_PLAY)->click();
    std::array<uint64_t, 4> before{};
    for (int c = 0; c < 4; ++c)
        before[static_cast<std::size_t>(c)] = e->ShownCount(c);
    // Every channel shows pictures again, not black cells.
    EXPECT_TRUE(PumpUntil(
        [&] {
            for (int c = 0; c < 4; ++c)
                if (e->ShownCount(c) < before[static_cast<std::size_t>(c)] + 5)
                    return false;
            return true;
        },
        10000));
    for (int c = 0; c < 4; ++c)
        EXPECT_TRUE(HasPicture(view->VideoWindow(c)->Picture())) << c;
    EXPECT_TRUE(boxes.texts.empty());
}

TEST(PlayerShell, OpenChoosesAFolderToPlayAboutShowsItsBoxAndAFolderThatCannotBeOpenedIsReported)
{
    BoxRecorder boxes;
    TempDir dir;
    WriteFolder(dir.path(), 1, 10);
    CMainFrame frame(dir.path());
    frame.show();
    EXPECT_EQ(frame.contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction* open = frame.findChild<QAction*>("ID_FILE_OPEN");
    QAction* about = frame.findChild<QAction*>("ID_APP_ABOUT");
    ASSERT_TRUE(open && about);
    EXPECT_TRUE(frame.actions().contains(open));
    EXPECT_TRUE(open->shortcuts().contains(QKeySequence(QKeySequence::Open)));
    EXPECT_EQ(about->shortcut(), QKeySequence(QKeySequence::HelpContents));

    QString played;
    frame.playFolder = [&](const QString& folder) { played = folder; };
    frame.chooseFolder = [](QWidget*) { return QString(); };
    open->trigger();
    EXPECT_TRUE(played.isEmpty()) << "a cancelled chooser plays nothing";
    EXPECT_TRUE(frame.isVisible());
    frame.chooseFolder = [&](QWidget*) { return QString::fromStdString(dir.path()); };
    open->trigger();
    EXPECT_EQ(played.toStdString(), dir.path());
    EXPECT_FALSE(frame.isVisible());

    QString title, text;
    QTimer::singleShot(50, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            title = box->windowTitle();
            for (QLabel* label : box->findChildren<QLabel*>())
                text += label->text();
            box->close();
        }
    });
    about->trigger();
    EXPECT_EQ(title, "About ZoPlayer");
    EXPECT_TRUE(text.contains("ZoPlayer Version 1.0"));

    const std::string previous = std::filesystem::current_path().string();
    std::string folder;
    EXPECT_FALSE(EnterPlayerFolder((dir.path() + "/missing").c_str(), &folder));
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0].rfind("Cannot open the folder " + dir.path() + "/missing", 0), 0u) << boxes.texts[0];
    EXPECT_TRUE(EnterPlayerFolder(dir.path().c_str(), &folder));
    EXPECT_EQ(folder, std::filesystem::canonical(dir.path()).string());
    std::filesystem::current_path(previous);
}

TEST(PlayerView, ATitleIsWhiteOnBlackAcrossTheWholeBar)
{
    QWidget parent;
    parent.resize(400, 300);
    CVideoWnd window(&parent, 3);
    window.setGeometry(0, 0, 300, 200);
    parent.show();
    window.SetTitle(" CH04 ");
    EXPECT_EQ(window.Title(), " CH04 ");
    auto whiteText = [&] {
        const QImage shot = window.grab().toImage();
        for (int x = 1; x < 60; ++x)
            for (int y = 2; y < 12; ++y)
                if (qGray(shot.pixel(x, y)) > 200)
                    return true;
        return false;
    };
    ASSERT_TRUE(PumpUntil(whiteText, 2000));
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.pixel(290, 6) & 0xFFFFFF, 0u);        // black to the right end
    EXPECT_EQ(shot.pixel(0, 100) & 0xFFFFFF, 0xC8C8C8u); // the grey frame
    // A small picture is stretched from its own size over the window.
    std::vector<uint8_t> y(16 * 16, 235), u(64, 128), v(64, 128);
    window.ShowPicture(y.data(), u.data(), v.data(), 16, 16);
    ASSERT_TRUE(PumpUntil([&] { return qGray(window.grab().toImage().pixel(250, 150)) > 200; }, 2000));
    EXPECT_EQ(window.Picture().size(), QSize(16, 16));
}

namespace {

// Sixteen channels of 10 frames a second, four starting each second, three
// seconds each: the base ends first, with others in its last second and the
// last four starting as it ends.
std::vector<ChannelFiles> WriteStaggeredFolder(const std::string& folder)
{
    std::vector<ChannelFiles> files(16);
    for (int c = 0; c < 16; ++c) {
        ChannelFiles& f = files[static_cast<std::size_t>(c)];
        f.slot = c;
        f.startSeconds += c / 4;
        f.frames = 30;
        f.fps = 10;
        playertest::WriteChannel(folder, f);
    }
    return files;
}

int64_t LastFrameTime(const ChannelFiles& f)
{
    return static_cast<int64_t>(f.startSeconds) * 1000000 + static_cast<int64_t>(f.frames - 1) * 1000000 / f.fps;
}

bool EveryReaderFinished(PlaybackEngine* e)
{
    for (int c = 0; c < e->ChannelCount(); ++c)
        if (!e->Reader(c)->Finished())
            return false;
    return true;
}

class PlayerViewLayouts : public ::testing::TestWithParam<int> {};

} // namespace

// In every layout and the single view, every channel plays to the end of its
// own file in step, whichever ends first and whenever the others start.
TEST_P(PlayerViewLayouts, EveryChannelPlaysToItsOwnEndInStep)
{
    const int layout = GetParam();
    BoxRecorder boxes;
    TempDir dir;
    const std::vector<ChannelFiles> files = WriteStaggeredFolder(dir.path());
    CMainFrame frame(dir.path());
    frame.show();
    int exitCode = 0;
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(frame.View()->OnInitialUpdate(&exitCode));
    CZoPlayerView* view = frame.View();
    PlaybackEngine* e = view->Engine();
    ASSERT_EQ(view->SplitMode(), 16);
    if (layout == 1) {
        ASSERT_TRUE(PumpUntil([&] { return e->CellChannel(0) == 0; }, 5000));
        view->ForgetLastLayoutChange();
        view->OnVideoDoubleClick(0);
    } else if (layout != 16) {
        view->ForgetLastLayoutChange();
        view->OnLayout(layout);
    }
    EXPECT_EQ(view->SplitMode(), layout);
    ASSERT_TRUE(PumpUntil([&] { return EveryReaderFinished(e); }, 30000));
    // Six seconds of recording, paced: none ran through its file alone.
    const double recorded =
        static_cast<double>(LastFrameTime(files.back()) - static_cast<int64_t>(files.front().startSeconds) * 1000000) /
        1e6;
    const uint64_t anchors = e->AnchorCount();
    EXPECT_GE(static_cast<double>(took.elapsed()) / 1000,
              playertest::PacedPlayLowerBound(recorded, anchors, files.front().fps))
        << anchors << " anchors";
    for (int c = 0; c < 16; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        EXPECT_EQ(e->LastShownTime(c), LastFrameTime(files[static_cast<std::size_t>(c)]));
        EXPECT_GE(e->ShownCount(c), 28u);
        EXPECT_LE(e->BlankedCount(c), playertest::PacedPlayBlanksAllowed(anchors));
    }
    EXPECT_TRUE(boxes.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(PlayerView, PlayerViewLayouts, ::testing::Values(16, 9, 4, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("Single") : "Split" + std::to_string(info.param);
                         });

// Play after every channel has ended plays the backup again from its start,
// in the layouts of 4, 9 and 16 cells, with channels of unequal lengths.
TEST(PlayerView, PlayAfterEveryChannelHasEndedPlaysAgainFromTheStartInEveryLayout)
{
    for (int channels : {4, 8, 16}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        BoxRecorder boxes;
        TempDir dir;
        std::vector<ChannelFiles> files(static_cast<std::size_t>(channels));
        for (int c = 0; c < channels; ++c) {
            ChannelFiles& f = files[static_cast<std::size_t>(c)];
            f.slot = c;
            f.frames = 10 + (c % 3) * 4; // the base is among the shortest
            f.fps = 10;
            playertest::WriteChannel(dir.path(), f);
        }
        CMainFrame frame(dir.path());
        frame.show();
        int exitCode = 0;
        ASSERT_TRUE(frame.View()->OnInitialUpdate(&exitCode));
        CZoPlayerView* view = frame.View();
        PlaybackEngine* e = view->Engine();
        EXPECT_EQ(view->SplitMode(), channels == 8 ? 9 : channels);
        ASSERT_TRUE(PumpUntil([&] { return EveryReaderFinished(e); }, 20000));
        std::vector<uint64_t> before(static_cast<std::size_t>(channels));
        for (int c = 0; c < channels; ++c) {
            EXPECT_EQ(e->LastShownTime(c), LastFrameTime(files[static_cast<std::size_t>(c)])) << c;
            before[static_cast<std::size_t>(c)] = e->ShownCount(c);
        }
        view->Button(IDC_PLAY)->click();
        // Every cell shows pictures again, and every channel plays its
        // whole file a second time.
        EXPECT_TRUE(PumpUntil(
            [&] {
                for (int c = 0; c < channels; ++c)
                    if (!HasPicture(view->VideoWindow(c)->Picture()))
                        return false;
                return true;
            },
            5000));
        EXPECT_TRUE(PumpUntil(
            [&] {
                if (!EveryReaderFinished(e))
                    return false;
                for (int c = 0; c < channels; ++c)
                    if (e->ShownCount(c) < before[static_cast<std::size_t>(c)] +
                                               static_cast<uint64_t>(files[static_cast<std::size_t>(c)].frames) - 1)
                        return false;
                return true;
            },
            20000))
            << "Play at the end played nothing";
        EXPECT_TRUE(boxes.texts.empty());
    }
}

namespace {

// The buttons an operator presses, and the double click on a cell.
// Watch presses nothing: the operator watches the play-back to its end.
enum class Press {
    Play,
    Pause,
    Stop,
    StepForward,
    StepBack,
    FastForward,
    Rewind,
    Split4,
    Split9,
    Split16,
    Cell,
    Next,
    Watch
};

struct OperatorAction {
    Press press;
    int cell;    // the cell a double click goes to
    int delayMs; // how long the operator waits before pressing
};

std::string ActionText(const OperatorAction& a)
{
    static const char* const names[] = {"Play",    "Pause",  "Stop",   "StepForward", "StepBack", "FastForward",
                                        "Rewind",  "Split4", "Split9", "Split16",     "Cell",     "Next",
                                        "Watch"};
    std::string text = names[static_cast<int>(a.press)];
    if (a.press == Press::Cell)
        text += std::to_string(a.cell);
    return text + "@" + std::to_string(a.delayMs);
}

std::vector<OperatorAction> OperatorActions(std::mt19937& random, int count)
{
    // Play, pause and the fast buttons come most often, as at a desk.
    std::discrete_distribution<int> press({18, 10, 6, 8, 6, 10, 10, 4, 4, 4, 8, 3, 2});
    std::uniform_int_distribution<int> cell(0, 15), delay(0, 60);
    std::vector<OperatorAction> actions;
    for (int k = 0; k < count; ++k) {
        OperatorAction a{static_cast<Press>(press(random)), 0, 0};
        a.cell = cell(random);
        a.delayMs = delay(random);
        actions.push_back(a);
    }
    return actions;
}

// A backup of 4 to 12 channels of 25 frames a second that start up to four
// seconds apart and last one or two seconds and a half; some have a gap,
// some a key frame the reader refuses, some a cut last frame.
std::vector<ChannelFiles> WriteOperatorFolder(const std::string& folder, std::mt19937& random)
{
    const int channels = std::uniform_int_distribution<int>(4, 12)(random);
    std::vector<ChannelFiles> files(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        ChannelFiles& f = files[static_cast<std::size_t>(c)];
        f.slot = c;
        f.fps = 25;
        f.startSeconds += std::uniform_int_distribution<int>(0, 4)(random);
        f.frames = random() % 2 ? 30 : 60;
        if (random() % 4 == 0) {
            f.gapFromFrame = f.frames / 2;
            f.gapSeconds = std::uniform_int_distribution<int>(2, 7)(random);
        }
        playertest::WriteChannel(folder, f);
        const std::string movie = folder + "/CH0" + std::to_string(c) + "_00.mp4";
        if (random() % 5 == 0)
            playertest::RefuseFrame(movie, 10); // the second key frame
        if (random() % 6 == 0)
            playertest::CutMovieEnd(movie, 5);
    }
    return files;
}

// Ends the process, naming the seed and the action, when an action (or the
// end of play) does not return: a hang is a failure, not a stalled suite.
class OperatorWatchdog {
public:
    explicit OperatorWatchdog(uint32_t seed)
        : seed_(seed), thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              while (!done_) {
                  const int seen = step_;
                  if (!changed_.wait_for(lock, std::chrono::seconds(90), [&] { return done_ || step_ != seen; })) {
                      std::fprintf(stderr, "random operator seed %u hung at action %d\n", seed_, step_);
                      std::fflush(stderr);
                      std::abort();
                  }
              }
          })
    {
    }
    ~OperatorWatchdog()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void At(int step)
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            step_ = step;
        }
        changed_.notify_all();
    }

private:
    uint32_t seed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int step_ = -1;
    bool done_ = false;
    std::thread thread_;
};

// Presses the buttons of a seed's list at their moments and checks after
// each what must follow it. A channel moves when it shows, blanks or drops
// a frame.
class RandomOperator {
public:
    // A channel owed a frame shows one within a second; this is that second
    // with a margin a loaded, sanitised machine cannot eat.
    static constexpr int kMoveMs = 4000;
    // A frame this near the clock's time is at it.
    static constexpr int64_t kAtTheClockUs = 250000;

    explicit RandomOperator(CZoPlayerView* view) : view_(view), e_(view->Engine()) {}

    void Run(const std::vector<OperatorAction>& actions, OperatorWatchdog& watchdog)
    {
        for (std::size_t k = 0; k < actions.size(); ++k) {
            watchdog.At(static_cast<int>(k));
            const OperatorAction& a = actions[k];
            SCOPED_TRACE("action " + std::to_string(k) + " " + ActionText(a));
            QTest::qWait(a.delayMs);
            CheckQuiet();
            QElapsedTimer took;
            took.start();
            Take(a);
            if (std::getenv("VYR_RANDOM_OPERATOR_TRACE"))
                std::printf("  %zu %s took %lld ms; %s", k, ActionText(a).c_str(), static_cast<long long>(took.elapsed()),
                            Describe().c_str());
            if (::testing::Test::HasFatalFailure() || ::testing::Test::HasFailure())
                return;
        }
        QTest::qWait(200);
        CheckQuiet();
    }

private:
    uint64_t Moves(int c) const { return e_->ShownCount(c) + e_->BlankedCount(c) + e_->DroppedCount(c); }
    bool All(const std::function<bool(CMovieFileReader&)>& test) const
    {
        for (int c = 0; c < e_->ChannelCount(); ++c)
            if (!test(*e_->Reader(c)))
                return false;
        return true;
    }
    bool AnyMoved(const std::vector<uint64_t>& before) const
    {
        for (int c = 0; c < e_->ChannelCount(); ++c)
            if (Moves(c) > before[static_cast<std::size_t>(c)])
                return true;
        return false;
    }

    // Where every channel is, for a failure's message.
    std::string Describe() const
    {
        std::string text = "base " + std::to_string(e_->BaseChannel()) + (e_->Anchored() ? " anchored" : "") +
                           ", split " + std::to_string(e_->splitMode.load()) + ", page " +
                           std::to_string(e_->pageStart.load()) + "\n";
        for (int c = 0; c < e_->ChannelCount(); ++c) {
            const CMovieFileReader& r = *e_->Reader(c);
            char line[200];
            std::snprintf(line, sizeof line,
                          "  channel %d: frame %d.%06d, state %d, end %d, key %d of %d, shown %llu blanked %llu "
                          "dropped %llu\n",
                          c, r.FrameSeconds() - ChannelFiles{}.startSeconds, r.FrameMicroseconds(), r.State(),
                          r.EndFlag(), r.KeyIndex(), r.RecordCount(),
                          static_cast<unsigned long long>(e_->ShownCount(c)),
                          static_cast<unsigned long long>(e_->BlankedCount(c)),
                          static_cast<unsigned long long>(e_->DroppedCount(c)));
            text += line;
        }
        return text;
    }

    void Take(const OperatorAction& a)
    {
        const int count = e_->ChannelCount();
        std::vector<uint64_t> before(static_cast<std::size_t>(count)), shownBefore(before);
        for (int c = 0; c < count; ++c) {
            before[static_cast<std::size_t>(c)] = Moves(c);
            shownBefore[static_cast<std::size_t>(c)] = e_->ShownCount(c);
        }
        const bool allEnded = All([](CMovieFileReader& r) { return r.Finished(); });
        const int stepped = e_->CellChannel(e_->pageStart);
        const bool stepsOffered = !view_->Button(IDC_STEP_FORWARD)->isHidden();
        switch (a.press) {
        case Press::Play: view_->OnPlay(); break;
        case Press::Pause: view_->OnPause(); break;
        case Press::Stop: view_->OnStop(); break;
        case Press::FastForward: view_->OnFastForward(); break;
        case Press::Rewind: view_->OnRewind(); break;
        case Press::StepForward:
        case Press::StepBack:
            if (!stepsOffered)
                return; // the buttons are hidden: nothing to press
            if (a.press == Press::StepForward)
                view_->OnStepForward();
            else
                view_->OnStepBack();
            break;
        case Press::Split4:
        case Press::Split9:
        case Press::Split16:
            view_->ForgetLastLayoutChange();
            view_->OnLayout(a.press == Press::Split4 ? 4 : a.press == Press::Split9 ? 9 : 16);
            break;
        case Press::Cell:
            view_->ForgetLastLayoutChange();
            view_->OnVideoDoubleClick(a.cell);
            break;
        case Press::Next: view_->OnNext(); break;
        case Press::Watch:
            // Every channel plays on to its end: none is left waiting for
            // good. The longest backup lasts some fifteen seconds.
            if (e_->PlayState() == kPlaying) {
                EXPECT_TRUE(PumpUntil([&] { return All([](CMovieFileReader& r) { return r.Finished(); }); }, 30000))
                    << "the play-back never ended\n"
                    << Describe();
            }
            return;
        }
        const int s = e_->PlayState();
        if (s == kPaused || s == kStopped) {
            quiet_.assign(static_cast<std::size_t>(count), 0);
            for (int c = 0; c < count; ++c)
                quiet_[static_cast<std::size_t>(c)] = e_->ShownCount(c);
            return;
        }
        quiet_.clear();
        if (s == kPlaying) {
            // Play after every channel has ended plays the backup again.
            if (a.press == Press::Play && allEnded) {
                EXPECT_TRUE(PumpUntil([&] { return AnyMoved(before); }, kMoveMs)) << "Play at the end played nothing\n"
                                                                                   << Describe();
            }
            // Every channel owed a frame moves. The clock's time is the base's
            // last picture once it has shown one since the press; a channel
            // is owed when the frame it holds is at that time
            // (a frame after a gap, or one a synchronisation put ahead, is
            // not), the base when it has no anchor or holds a frame as near
            // its last one, and no channel that has ended.
            std::string stuck;
            const bool moved = PumpUntil(
                [&] {
                    stuck.clear();
                    const int b = e_->BaseChannel();
                    const bool clockShown = e_->ShownCount(b) > shownBefore[static_cast<std::size_t>(b)];
                    const int64_t clock = e_->LastShownTime(b);
                    for (int c = 0; c < count; ++c) {
                        const CMovieFileReader& r = *e_->Reader(c);
                        const int64_t held = r.FrameSeconds() * 1000000LL + r.FrameMicroseconds();
                        const bool owed = c == b ? !e_->Anchored() || held <= clock + kAtTheClockUs
                                                 : clockShown && held <= clock + kAtTheClockUs;
                        if (owed && Moves(c) == before[static_cast<std::size_t>(c)] && !r.Finished())
                            stuck += " " + std::to_string(c);
                    }
                    return stuck.empty() && (AnyMoved(before) || All([](CMovieFileReader& r) { return r.Finished(); }));
                },
                kMoveMs);
            EXPECT_TRUE(moved) << "channels owed a frame stood still:" << (stuck.empty() ? " all" : stuck) << "\n"
                               << Describe();
        } else if (s == kFastForward || s == kRewind) {
            const bool forward = s == kFastForward;
            EXPECT_TRUE(PumpUntil(
                [&] {
                    return AnyMoved(before) || All([forward](CMovieFileReader& r) {
                               return forward ? r.Finished() : r.EndFlag() == kBeforeStart;
                           });
                },
                kMoveMs))
                << (forward ? "fast forward" : "rewind") << " moved no channel\n"
                << Describe();
        } else if (s == kStepForward && (a.press == Press::StepForward) && stepped >= 0) {
            EXPECT_TRUE(PumpUntil([&] { return Moves(stepped) > before[static_cast<std::size_t>(stepped)]; }, kMoveMs))
                << "the step showed no frame on channel " << stepped << "\n"
                << Describe();
        }
    }

    // After Pause or Stop no channel moves on: each shows at most the frame
    // it held when the button was pressed.
    void CheckQuiet()
    {
        for (std::size_t c = 0; c < quiet_.size(); ++c)
            EXPECT_LE(e_->ShownCount(static_cast<int>(c)), quiet_[c] + 1) << "channel " << c << " played on";
    }

    CZoPlayerView* view_;
    PlaybackEngine* e_;
    std::vector<uint64_t> quiet_;
};

} // namespace

// An operator presses the buttons at random moments over a backup of
// staggered, gapped and damaged channels; after each press what must follow
// does. Each seed prints its list first, so that a failing run, or one the
// sanitizers end, says how to repeat it (VYR_RANDOM_OPERATOR_SEED);
// VYR_RANDOM_OPERATOR_TRACE=1 adds where every channel is after each press.
TEST(PlayerView, RandomOperatorPressesLeaveEveryChannelWhereItsButtonsPutIt)
{
    constexpr int kActions = 200;
    for (uint32_t seed : testsupport::RandomOperatorSeeds({1, 2})) {
        SCOPED_TRACE("random operator seed " + std::to_string(seed));
        std::mt19937 random(seed);
        TempDir dir;
        const std::vector<ChannelFiles> files = WriteOperatorFolder(dir.path(), random);
        const std::vector<OperatorAction> actions = OperatorActions(random, kActions);
        std::string story = "random operator seed " + std::to_string(seed) + ": " + std::to_string(files.size()) +
                            " channels; actions:";
        for (const OperatorAction& a : actions)
            story += " " + ActionText(a);
        std::printf("%s\n", story.c_str());
        std::fflush(stdout);

        BoxRecorder boxes;
        OperatorWatchdog watchdog(seed);
        {
            CMainFrame frame(dir.path());
            frame.show();
            int exitCode = 0;
            ASSERT_TRUE(frame.View()->OnInitialUpdate(&exitCode));
            RandomOperator op(frame.View());
            op.Run(actions, watchdog);
            watchdog.At(kActions); // the threads end and are joined with the frame
        }
        EXPECT_TRUE(boxes.texts.empty());
        if (::testing::Test::HasFailure())
            return;
    }
}
