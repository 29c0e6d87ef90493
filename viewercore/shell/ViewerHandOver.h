#pragma once
// Hand-over between the three viewers: each main window can be found and
// asked to close by its title, through a local socket per title and user
// named "vyr-<title in lower case, spaces as dashes>-<user id>" (for example
// "vyr-network-viewer-1000"; with VYR_HANDOVER_NAMESPACE=ns set,
// "vyr-ns-network-viewer-1000"). A client writes the line "CLOSE"; the viewer
// answers "OK" once it has begun its own close sequence, exactly as when the
// operator closes it.
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace viewer {

inline constexpr const char* kNetworkViewerTitle = "Network Viewer";
inline constexpr const char* kBackupViewerTitle = "Backup Viewer";
inline constexpr const char* kEventViewerTitle = "Event Viewer";
inline constexpr const char* kNetworkViewerWord = "NetworkViewer";
inline constexpr const char* kBackupViewerWord = "BackupViewer";
inline constexpr const char* kEventViewerWord = "EventViewer";

// The socket a main window of this title listens on.
QString HandOverSocketName(const QString& title);

// The title of the viewer a start word names ("BackupViewer" -> "Backup
// Viewer"); empty for any other word.
QString CallerTitleFromWord(const QString& word);

// Listens for close requests for one main window.
class ViewerCloseServer : public QObject {
public:
    // `requestClose` runs on the GUI thread and starts the window's close.
    ViewerCloseServer(const QString& title, std::function<void()> requestClose, QObject* parent = nullptr);
    ~ViewerCloseServer() override;
    bool Listening() const;
    QString SocketName() const;

private:
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> requestClose_;
};

// Asks the main window of `title` to close and waits (serving the event loop)
// until it has answered; false when no such window answers in time.
bool RequestViewerClose(const QString& title, int timeoutMs = 5000);

// Starts a sibling viewer `program` (a path) with `startWord` as its only
// argument, in the program's own directory. False, with a reason, when it
// cannot be started.
bool LaunchViewer(const QString& program, const QString& startWord, QString* error);

} // namespace viewer
