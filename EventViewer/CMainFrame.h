#pragma once
// The event viewer's main window: the view, the hand-over to and from the
// sibling viewers, and the close that waits for every control instance to
// end its session.
#include "viewercore/shell/ViewerMainFrame.h"

#include <cstdint>

class CVyrNVRDoc;
class QAction;
class CVyrNVRView;

class CMainFrame : public viewer::ViewerMainFrame {
public:
    // Window states kept in "config_win.vyr".
    static constexpr uint32_t kStateClosed = 0;
    static constexpr uint32_t kStateHandedOver = 3;

    // `startMode`: 0 alone, 1 started by the network viewer, 2 by the backup viewer.
    CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory);
    ~CMainFrame() override;

    CVyrNVRView* View() const { return view_; }
    // Starts the network or the backup viewer and leaves the screen to it.
    void LaunchViewer(int button);
    // Closes the viewer that started this one, if any.
    void CloseCaller();
    // The about box, modal.
    void ShowAbout();
    // The window menu's entry that opens it ("A&bout Event Viewer").
    QAction* AboutAction() const { return aboutAction_; }

protected:
    void SaveForClose() override { StorePlacement(kStateClosed); }
    void SaveForHandOver() override { StorePlacement(kStateHandedOver); }
    void StopForClose() override;
    int BusyInstances() override;

private:
    void StorePlacement(uint32_t state);

    CVyrNVRDoc* document_;
    CVyrNVRView* view_;
    QAction* aboutAction_;
};

// The start mode a first command-line word gives.
int StartModeFromWord(const QString& word);
