#pragma once
// The player's frame: "Zo Player", at least 1024 x 768, no menu, the view
// filling it and a status bar of eight panes the view writes into.
#include <QDialog>
#include <QMainWindow>

#include <array>
#include <functional>
#include <string>

class QLabel;

namespace zoplayer {

class CZoPlayerView;

inline constexpr int kStatusPanes = 8;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(const std::string& folder);
    ~CMainFrame() override;

    CZoPlayerView* View() const { return view_; }
    QString PaneText(int pane) const;
    void SetPaneText(int pane, const QString& text);

    // New and Open: a folder chooser; the chosen folder plays in a run of
    // its own, since a folder opens once per run.
    void OnFileOpen();
    void OnAppAbout();
    // What Open uses to choose a folder and to play it; tests replace them.
    std::function<QString(QWidget* parent)> chooseFolder;
    std::function<void(const QString& folder)> playFolder;

private:
    CZoPlayerView* view_;
    std::array<QLabel*, kStatusPanes> panes_{};
};

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent);
};

// The folder to play: `argument` when given (the program moves into it),
// else the current directory. A folder that cannot be entered is reported
// in a box, and false returned.
bool EnterPlayerFolder(const char* argument, std::string* folder);

} // namespace zoplayer
