#include "ProcessSignals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

int signalSockets[2] = {-1, -1};
std::function<void()> closeOnSignal; // used on the GUI thread only

void WriteSignalByte(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    const ssize_t written = write(signalSockets[1], &byte, 1);
    (void)written; // a full socket already wakes the loop
    errno = saved;
}

void CancelModalWindows()
{
    // Bounded: a box that refuses to close must not hold the program open.
    for (int k = 0; k < 16; ++k) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->close())
            return;
    }
}

} // namespace

void IgnoreFileSizeLimitSignal()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

void CloseOnTerminationSignals(std::function<void()> close)
{
    static const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    static bool ignoredAtStart[3] = {};
    const bool catching = static_cast<bool>(close);
    closeOnSignal = std::move(close);
    if (signalSockets[0] < 0) {
        if (!catching || socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSockets) != 0)
            return;
        for (int k = 0; k < 3; ++k) {
            struct sigaction previous {};
            sigaction(kSignals[k], nullptr, &previous);
            ignoredAtStart[k] = previous.sa_handler == SIG_IGN;
        }
        auto* notifier = new QSocketNotifier(signalSockets[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
            char bytes[16];
            if (read(signalSockets[0], bytes, sizeof bytes) <= 0)
                return;
            while (read(signalSockets[0], bytes, sizeof bytes) > 0) {
            }
            CancelModalWindows();
            // Queued, so that the cancelled dialogs' loops have unwound
            // before the window closes.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [] {
                    if (closeOnSignal)
                        closeOnSignal();
                },
                Qt::QueuedConnection);
        });
    }
    struct sigaction action {};
    action.sa_handler = catching ? WriteSignalByte : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int k = 0; k < 3; ++k)
        if (!ignoredAtStart[k])
            sigaction(kSignals[k], &action, nullptr);
}

} // namespace platform
