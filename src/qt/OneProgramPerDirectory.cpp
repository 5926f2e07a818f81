#include "OneProgramPerDirectory.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace pelmbus {

namespace {

// What a second start sends, and what the first answers once shown.
constexpr char ShowRequest = 'S';
constexpr int AnswerWaitMs = 3000;

} // namespace

DirectoryClaim::DirectoryClaim(const QString& directory) {
    // The name of the first program's local socket, for this directory and
    // this user only.
    const QByteArray key = QFile::encodeName(QDir(directory).canonicalPath()) + '\0' +
                           QByteArray::number(static_cast<qulonglong>(getuid()));
    serverName_ = QStringLiteral("PelMBus-") +
                  QString::fromLatin1(
                      QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(24));

    const QString path = directory + QStringLiteral("PelMBus.lock");
    const int file = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    if (file < 0) {
        // A directory this user may not write: no claim can be made, and the
        // files could not be stored either; the program runs as before.
        return;
    }
    if (flock(file, LOCK_EX | LOCK_NB) == 0) {
        lockFile_ = file;
    } else {
        heldByAnother_ = errno == EWOULDBLOCK;
        close(file);
    }
}

DirectoryClaim::~DirectoryClaim() {
    server_.close();
    if (lockFile_ >= 0) {
        close(lockFile_);
    }
}

void DirectoryClaim::ListenForSecondStarts(std::function<void()> show) {
    if (lockFile_ < 0) {
        return;
    }
    // The lock is held: a socket left by a program that crashed is stale.
    QLocalServer::removeServer(serverName_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(serverName_)) {
        return; // a second start then only ends
    }
    QObject::connect(&server_, &QLocalServer::newConnection, this, [this, show] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket,
                             &QLocalSocket::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, show] {
                if (socket->readAll().contains(ShowRequest)) {
                    show();
                    socket->write(&ShowRequest, 1);
                    socket->flush();
                }
            });
        }
    });
}

bool DirectoryClaim::AskFirstToShowItself() const {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(AnswerWaitMs)) {
        return false;
    }
    socket.write(&ShowRequest, 1);
    if (!socket.waitForBytesWritten(AnswerWaitMs) || !socket.waitForReadyRead(AnswerWaitMs)) {
        return false;
    }
    return socket.readAll().contains(ShowRequest);
}

} // namespace pelmbus
