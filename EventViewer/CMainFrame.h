#pragma once
// The event viewer's main window: the view, the hand-over to and from the
// sibling viewers, and the close that waits for every control instance to
// end its session.
#include <QTimer>
#include <QWidget>

#include <memory>

class CVyrNVRDoc;
class CVyrNVRView;
namespace viewer {
class ViewerCloseServer;
}

class CMainFrame : public QWidget {
public:
    static constexpr int kMinimumWidth = 1024;
    static constexpr int kMinimumHeight = 768;
    static constexpr int kIdleFirstCheckMs = 10;
    static constexpr int kIdleCheckMs = 2000;
    // An instance that never lets go does not keep the program open for
    // ever: after this many checks (about half a minute) it closes anyway.
    static constexpr int kMaxIdleChecks = 15;
    // Window states kept in "config_win.vyr".
    static constexpr uint32_t kStateClosed = 0;
    static constexpr uint32_t kStateHandedOver = 3;

    // `startMode`: 0 alone, 1 started by the network viewer, 2 by the backup viewer.
    CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory);
    ~CMainFrame() override;

    CVyrNVRView* View() const { return view_; }
    int StartMode() const { return startMode_; }
    // Starts the network or the backup viewer and leaves the screen to it.
    void LaunchViewer(int button);
    // Closes the viewer that started this one, if any.
    void CloseCaller();
    bool Closing() const { return closing_; }
    int IdleChecks() const { return idleChecks_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void StorePlacement(uint32_t state);
    void CheckIdle();

    CVyrNVRDoc* document_;
    CVyrNVRView* view_;
    int startMode_;
    QString programDirectory_;
    std::unique_ptr<viewer::ViewerCloseServer> closeServer_;
    QTimer idleTimer_;
    bool closing_ = false;
    bool closeAllowed_ = false;
    int idleChecks_ = 0;
};

// The start mode a first command-line word gives.
int StartModeFromWord(const QString& word);
