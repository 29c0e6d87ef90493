#pragma once
// The network viewer's main window: the view, full screen, the close
// sequence that waits for every channel to go idle, and the hand-over to and
// from the sibling viewers.
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
    // A control that never reports idle does not keep the program open for
    // ever: after this many checks (about half a minute) it closes anyway.
    static constexpr int kMaxIdleChecks = 15;

    // `startMode`: 0 alone, 2 started by the backup viewer, 3 by the event viewer.
    CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory);
    ~CMainFrame() override;

    CVyrNVRView* View() const { return view_; }
    void EnterFullScreen(bool on);
    // Starts the backup or the event viewer and leaves the screen to it.
    void LaunchViewer(int button);
    // Closes the viewer that started this one, if any.
    void CloseCaller();
    bool Closing() const { return closing_; }
    int IdleChecks() const { return idleChecks_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void StorePlacement();
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
