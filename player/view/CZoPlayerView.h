#pragma once
// The player's only view: the skin, the playback and layout buttons, the 64
// video windows in the current split, and the handlers that turn button
// presses and double clicks into play states and base-channel choices.
#include "player/engine/PlaybackEngine.h"
#include "player/folder/BackupFolder.h"

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class CButtonST;

namespace zoplayer {

class CVideoWnd;

enum PlayerButtonId : int {
    IDC_PLAY = 1001,
    IDC_FAST_FORWARD = 1002,
    IDC_REWIND = 1003,
    IDC_PAUSE = 1004,
    IDC_STOP = 1005,
    IDC_SPLIT4 = 1006,
    IDC_SPLIT9 = 1007,
    IDC_SPLIT16 = 1008,
    IDC_STEP_BACK = 1012,
    IDC_NEXT = 1013,
    IDC_STEP_FORWARD = 1014,
    IDC_SPLIT32 = 1015,
    IDC_SPLIT64 = 1016,
};

inline constexpr int kVideoWindowIdBase = 5000;
inline constexpr int kLayoutPauseMs = 500;

class CZoPlayerView : public QWidget {
    Q_OBJECT
public:
    // Writes the status bar's panes 2, 4 and 6.
    using PaneWriter = std::function<void(int pane, const QString& text)>;

    CZoPlayerView(QWidget* parent, std::string folder, PaneWriter panes);
    ~CZoPlayerView() override;

    // Opens the folder, starts the threads and plays. False when the
    // program must end (no files, or no decoder): `exitCode` says how.
    bool OnInitialUpdate(int* exitCode);

    // The button actions, as the buttons run them.
    void OnPlay();
    void OnStop();
    void OnPause();
    void OnRewind();
    void OnFastForward();
    void OnStepForward();
    void OnStepBack();
    void OnLayout(int layout);
    void OnNext();
    void OnVideoDoubleClick(int cell);

    PlaybackEngine* Engine() { return engine_.get(); }
    CVideoWnd* VideoWindow(int i) { return windows_[static_cast<std::size_t>(i)]; }
    CButtonST* Button(int id) const;
    int SplitMode() const { return engine_ ? engine_->splitMode.load() : splitMode_; }
    int PageStart() const { return engine_ ? engine_->pageStart.load() : 0; }
    int SpeedLevel() const { return speedLevel_; }
    int LastLayoutButton() const { return lastLayoutButton_; }
    const OpenedFolder& Folder() const { return folder_; }
    // Lets tests move past the pause between layout changes.
    void ForgetLastLayoutChange() { layoutTimer_.invalidate(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void MakeButtons();
    void LayOutWindows();
    void ShowStepButtons(bool show);
    void EveryReader(const std::function<void(CMovieFileReader&)>& action);
    // Fast forward or rewind (`state`), one level faster when pressed again.
    void PlayFast(int state, const std::function<void(CMovieFileReader&, int)>& setLevel);
    void Wait10ms();
    bool LayoutPauseHolds();
    void ShowAuthenticity(int status);

    std::string folderPath_;
    PaneWriter panes_;
    OpenedFolder folder_;
    SteadyPlayerClock clock_;
    std::unique_ptr<PlaybackEngine> engine_;
    std::array<CVideoWnd*, kEngineChannels> windows_{};
    std::array<CButtonST*, 13> buttons_{};
    std::array<QImage, 8> skin_;
    int splitMode_ = 16;
    int speedLevel_ = 1;
    int lastLayoutButton_ = 16;
    QElapsedTimer layoutTimer_;
    bool initialised_ = false;
};

} // namespace zoplayer
