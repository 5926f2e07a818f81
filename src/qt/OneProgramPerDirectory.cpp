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

TDirectoryClaim::TDirectoryClaim(const QString& directory) {
    // The name of the first program's local socket, for this directory and
    // this user only.
    const QByteArray key = QFile::encodeName(QDir(directory).canonicalPath()) + '\0' +
                           QByteArray::number(static_cast<qulonglong>(getuid()));
    FServerName = QStringLiteral("PelMBus-") +
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
        FLockFile = file;
    } else {
        FHeldByAnother = errno == EWOULDBLOCK;
        close(file);
    }
}

TDirectoryClaim::~TDirectoryClaim() {
    FServer.close();
    if (FLockFile >= 0) {
        close(FLockFile);
    }
}

void TDirectoryClaim::ListenForSecondStarts(std::function<void()> show) {
    if (FLockFile < 0) {
        return;
    }
    // The lock is held: a socket left by a program that crashed is stale.
    QLocalServer::removeServer(FServerName);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    if (!FServer.listen(FServerName)) {
        return; // a second start then only ends
    }
    QObject::connect(&FServer, &QLocalServer::newConnection, this, [this, show] {
        while (QLocalSocket* socket = FServer.nextPendingConnection()) {
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

bool TDirectoryClaim::AskFirstToShowItself() const {
    QLocalSocket socket;
    socket.connectToServer(FServerName);
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
