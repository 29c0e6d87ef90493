#pragma once
// The backup viewer's main window: the view, full screen, the close that
// stops playback and waits for the control, and the hand-over to and from
// the sibling viewers.
#include "viewercore/shell/ViewerMainFrame.h"

#include <cstdint>

class CVyrNVRDoc;
class CVyrNVRView;

class CMainFrame : public viewer::ViewerMainFrame {
public:
    // Window states kept in "config_win.vyr".
    static constexpr uint32_t kStateClosed = 0;
    static constexpr uint32_t kStateHandedOver = 2;

    // `startMode`: 0 alone, 1 started by the network viewer, 3 by the event viewer.
    CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory);
    ~CMainFrame() override;

    CVyrNVRView* View() const { return view_; }
    void EnterFullScreen(bool on);
    void LaunchViewer(int button);
    void CloseCaller();
    void ShowAbout();

protected:
    void SaveForClose() override { StorePlacement(kStateClosed); }
    void SaveForHandOver() override { StorePlacement(kStateHandedOver); }
    void StopForClose() override;
    int BusyInstances() override;

private:
    void StorePlacement(uint32_t state);

    CVyrNVRDoc* document_;
    CVyrNVRView* view_;
};

// The start mode a first command-line word gives.
int StartModeFromWord(const QString& word);
