// ZoPlayer: plays the backup folder it is started in (or the folder given
// as its first argument) and says whether its movie files are authentic.
#include "player/view/CMainFrame.h"
#include "platform/MessageBox.h"
#include "player/view/CZoPlayerView.h"
#include "platform/ProcessSignals.h"

#include <QApplication>

#include <string>

int main(int argc, char** argv)
{
    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZoPlayer"));
    platform::SetApplicationTitle("ZoPlayer");
    std::string folder;
    if (!zoplayer::EnterPlayerFolder(argc > 1 ? argv[1] : nullptr, &folder))
        return 1;
    zoplayer::CMainFrame frame(folder);
    platform::CloseOnTerminationSignals([&frame] { frame.close(); });
    frame.show();
    int exitCode = 0;
    if (!frame.View()->OnInitialUpdate(&exitCode))
        return exitCode;
    return app.exec();
}
