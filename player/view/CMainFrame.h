#pragma once
// The player's frame: "Zo Player", at least 1024 x 768, no menu, the view
// filling it and a status bar of eight panes the view writes into.
#include <QDialog>
#include <QMainWindow>

#include <array>
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

private:
    CZoPlayerView* view_;
    std::array<QLabel*, kStatusPanes> panes_{};
};

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent);
};

} // namespace zoplayer
