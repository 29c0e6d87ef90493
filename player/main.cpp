// ZoPlayer: plays the backup folder it is started in (or the folder given
// as its first argument) and says whether its movie files are authentic.
#include "player/view/CMainFrame.h"
#include "platform/MessageBox.h"
#include "player/view/CZoPlayerView.h"
#include "platform/ProcessSignals.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char** argv)
{
    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZoPlayer"));
    platform::SetApplicationTitle("ZoPlayer");
    // A file manager does not always start a program in its own folder.
    if (argc > 1 && ::chdir(argv[1]) != 0) {
        std::fprintf(stderr, "ZoPlayer: cannot open the folder %s\n", argv[1]);
        return 1;
    }
    char folder[4096];
    if (!::getcwd(folder, sizeof folder))
        return 1;
    zoplayer::CMainFrame frame(folder);
    frame.show();
    int exitCode = 0;
    if (!frame.View()->OnInitialUpdate(&exitCode))
        return exitCode;
    return app.exec();
}
