#include "app/raise_request.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {

// A bare name puts the socket in the temporary folder, where the guard's key
// file lies too: the starts that share one guard share one socket.
QString socketName(const QString& key) {
    return key + QStringLiteral(".raise");
}

constexpr int kRequestBoundMs = 1000;
constexpr unsigned long kRetryPauseMs = 50;

} // namespace

struct RaiseListener::Impl {
    QLocalServer server;
};

RaiseListener::RaiseListener(const QString& key, QObject* receiver, std::function<void()> onRequest)
    : impl_(std::make_unique<Impl>()) {
    QLocalServer& server = impl_->server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    // This process holds the guard, so no live updater listens here: a socket
    // file left over is a killed one's, and Qt says it makes listen() fail.
    QLocalServer::removeServer(socketName(key));
    if (!server.listen(socketName(key)))
        return;
    // The connection is the whole request; the asking start has already gone.
    QObject::connect(&server, &QLocalServer::newConnection, receiver,
                     [&server, onRequest = std::move(onRequest)] {
                         while (QLocalSocket* socket = server.nextPendingConnection())
                             delete socket;
                         onRequest();
                     });
}

RaiseListener::~RaiseListener() = default;

bool requestRaise(const QString& key) {
    const QDeadlineTimer deadline(kRequestBoundMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketName(key), QIODevice::WriteOnly);
        // A connection to a local socket is made or refused at once; the
        // wait covers only a listener too busy to take it.
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.disconnectFromServer();
            return true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kRetryPauseMs);
    }
}
