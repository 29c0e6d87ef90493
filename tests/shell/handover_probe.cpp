// A stand-in main window for hand-over tests: listens under the title given
// and, when asked to close, prints "closing" and ends with status 0. It has
// no clock of its own: the test that starts it ends it, or the kernel does
// with the test's process (testsupport::EndWithTest).
//   handover_probe TITLE
#include "viewercore/shell/ViewerHandOver.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    viewer::ViewerCloseServer server(QString::fromLocal8Bit(argv[1]), [] {
        std::puts("closing");
        std::fflush(stdout);
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    });
    if (!server.Listening())
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
