#pragma once
// The network viewer's main window: the view, full screen, the close
// sequence that waits for every channel to go idle, and the hand-over to and
// from the sibling viewers.
#include "viewercore/shell/ViewerMainFrame.h"

class CVyrNVRDoc;
class CVyrNVRView;

class CMainFrame : public viewer::ViewerMainFrame {
public:
    // `startMode`: 0 alone, 2 started by the backup viewer, 3 by the event viewer.
    CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory);
    ~CMainFrame() override;

    CVyrNVRView* View() const { return view_; }
    void EnterFullScreen(bool on);
    // Starts the backup or the event viewer and leaves the screen to it.
    void LaunchViewer(int button);
    // Closes the viewer that started this one, if any.
    void CloseCaller();

protected:
    void SaveForClose() override;
    void SaveForHandOver() override { SaveForClose(); }
    void StopForClose() override;
    int BusyInstances() override;

private:
    CVyrNVRDoc* document_;
    CVyrNVRView* view_;
};
