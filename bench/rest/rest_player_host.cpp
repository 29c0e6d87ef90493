// The movie player as its program runs it, in the backup folder it is
// started in, with the operator's press of Pause or Stop a second after it
// starts to play; then it runs on untouched for the rest benchmark to
// measure. "READY" on standard output once the button has been pressed.
//   rest_player_host paused|stopped
#include "platform/MessageBox.h"
#include "platform/ProcessSignals.h"
#include "player/view/CMainFrame.h"
#include "player/view/CZoPlayerView.h"
#include "viewercore/widgets/CButtonST.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    const int button = argc == 2 && !std::strcmp(argv[1], "paused")    ? zoplayer::IDC_PAUSE
                       : argc == 2 && !std::strcmp(argv[1], "stopped") ? zoplayer::IDC_STOP
                                                                       : 0;
    if (!button) {
        std::fprintf(stderr, "usage: rest_player_host paused|stopped\n");
        return 2;
    }
    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZoPlayer"));
    platform::SetApplicationTitle("ZoPlayer");
    std::string folder;
    if (!zoplayer::EnterPlayerFolder(nullptr, &folder))
        return 1;
    zoplayer::CMainFrame frame(folder);
    platform::CloseOnTerminationSignals([&frame] { frame.close(); });
    frame.show();
    int exitCode = 0;
    if (!frame.View()->OnInitialUpdate(&exitCode))
        return exitCode;
    QTimer::singleShot(1000, &frame, [&frame, button] {
        CButtonST* pressed = frame.View()->Button(button);
        if (!pressed) {
            std::printf("FAILED no button %d\n", button);
            std::fflush(stdout);
            QApplication::exit(1);
            return;
        }
        pressed->click();
        std::printf("READY\n");
        std::fflush(stdout);
    });
    return app.exec();
}
