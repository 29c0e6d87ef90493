#pragma once
// What the three viewers' main windows share: the window placement kept in
// "config_win.vyr", the close that stops the view and then waits for its
// control instances to go idle, and the hand-over to a sibling viewer.
#include <QTimer>
#include <QWidget>

#include <memory>

class SettingsDocument;
struct WindowRect;

namespace viewer {

class ViewerCloseServer;

class ViewerMainFrame : public QWidget {
public:
    static constexpr int kMinimumWidth = 1024;
    static constexpr int kMinimumHeight = 768;
    static constexpr int kIdleFirstCheckMs = 10;
    static constexpr int kIdleCheckMs = 2000;
    // A control that never reports idle does not keep the program open for
    // ever: after this many checks (about half a minute) it closes anyway.
    static constexpr int kMaxIdleChecks = 15;

    // `title` names the window and its close socket; `startWord` is what
    // this viewer passes to the siblings it starts.
    ViewerMainFrame(const char* title, const char* startWord, int startMode, const QString& programDirectory);
    ~ViewerMainFrame() override;

    int StartMode() const { return startMode_; }
    const QString& ProgramDirectory() const { return programDirectory_; }
    bool Closing() const { return closing_; }
    int IdleChecks() const { return idleChecks_; }

protected:
    // The view fills the whole window.
    void SetView(QWidget* view);
    // Moves the window to a stored rectangle, brought onto the screen.
    // `requireMinimumSize`: smaller rectangles are ignored.
    void RestorePlacement(const SettingsDocument& data, bool requireMinimumSize);
    // The window's rectangle as "config_win.vyr" keeps it (outside full screen).
    WindowRect PlacementRect() const;

    // Saves the settings, starts the sibling `programName` of the program
    // directory and tells the operator when it cannot be started.
    bool LaunchSibling(const QString& programName);
    // Asks the viewer titled `callerTitle` (none when null) to close.
    static void CloseCaller(const char* callerTitle);

    // The close sequence's steps: save, stop what the view runs, then count
    // (and nudge again) the instances still busy until none is.
    virtual void SaveForClose() = 0;
    virtual void SaveForHandOver() = 0;
    virtual void StopForClose() = 0;
    virtual int BusyInstances() = 0;

    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CheckIdle();

    const char* title_;
    const char* startWord_;
    int startMode_;
    QString programDirectory_;
    QWidget* view_ = nullptr;
    std::unique_ptr<ViewerCloseServer> closeServer_;
    QTimer idleTimer_;
    bool closing_ = false;
    bool closeAllowed_ = false;
    int idleChecks_ = 0;
};

} // namespace viewer
