// A stand-in main window for hand-over tests: listens under the title given
// and, when asked to close, prints "closing" and ends with status 0.
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
    QTimer::singleShot(20000, [] { QCoreApplication::exit(3); }); // never outlives a test
    return app.exec();
}
