#include "ViewerHandOver.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>

#include <unistd.h>

namespace viewer {

QString HandOverSocketName(const QString& title)
{
    QString name = title.toLower();
    name.replace(' ', '-');
    // Tests that run several viewers side by side keep them apart.
    const QString space = qEnvironmentVariable("VYR_HANDOVER_NAMESPACE");
    if (!space.isEmpty())
        name = space + "-" + name;
    return QStringLiteral("vyr-%1-%2").arg(name).arg(getuid());
}

QString CallerTitleFromWord(const QString& word)
{
    if (word == kNetworkViewerWord)
        return kNetworkViewerTitle;
    if (word == kBackupViewerWord)
        return kBackupViewerTitle;
    if (word == kEventViewerWord)
        return kEventViewerTitle;
    return {};
}

ViewerCloseServer::ViewerCloseServer(const QString& title, std::function<void()> requestClose, QObject* parent)
    : QObject(parent), server_(std::make_unique<QLocalServer>()), requestClose_(std::move(requestClose))
{
    const QString name = HandOverSocketName(title);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name)) {
        // A socket left by a viewer that died is taken over.
        QLocalServer::removeServer(name);
        server_->listen(name);
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    const QByteArray line = client->readLine().trimmed();
                    if (line == "CLOSE") {
                        client->write("OK\n");
                        client->flush();
                        if (requestClose_)
                            requestClose_();
                    } else {
                        client->write("?\n");
                    }
                }
            });
        }
    });
}

ViewerCloseServer::~ViewerCloseServer() = default;

bool ViewerCloseServer::Listening() const { return server_->isListening(); }
QString ViewerCloseServer::SocketName() const { return server_->serverName(); }

bool RequestViewerClose(const QString& title, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(HandOverSocketName(title));
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write("CLOSE\n");
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!socket.canReadLine()) {
        const int left = timeoutMs - static_cast<int>(clock.elapsed());
        if (left <= 0 || !socket.waitForReadyRead(left))
            return false;
    }
    return socket.readLine().trimmed() == "OK";
}

bool LaunchViewer(const QString& program, const QString& startWord, QString* error)
{
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable()) {
        if (error)
            *error = QStringLiteral("Cannot start %1").arg(program);
        return false;
    }
    qint64 pid = 0;
    if (!QProcess::startDetached(info.absoluteFilePath(), {startWord}, info.absolutePath(), &pid)) {
        if (error)
            *error = QStringLiteral("Cannot start %1").arg(program);
        return false;
    }
    return true;
}

} // namespace viewer
