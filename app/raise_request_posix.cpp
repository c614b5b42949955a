#include "app/raise_request.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kRequestBoundMs = 1000;
constexpr unsigned long kRetryPauseMs = 50;

// A socket in the temporary folder, where the guard's key file lies too: the
// starts that share one guard share one socket. Empty when its path does not
// fit a socket's address.
bool addressOf(const QString& key, sockaddr_un& address, std::string& path) {
    path = QFile::encodeName(QDir::tempPath() + QLatin1Char('/') + key + QStringLiteral(".raise"))
               .toStdString();
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

// A Unix socket and a notifier on the GUI thread, rather than Qt's network
// module: the module and what it links would cost every start its loading.
struct RaiseListener::Impl {
    int fd = -1;
    std::string path;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Impl() {
        notifier.reset();
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
        }
    }
};

RaiseListener::RaiseListener(const QString& key, QObject* receiver, std::function<void()> onRequest)
    : impl_(std::make_unique<Impl>()) {
    sockaddr_un address{};
    if (!addressOf(key, address, impl_->path))
        return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    // This process holds the guard, so no live updater listens here: a socket
    // left over is a killed one's.
    ::unlink(impl_->path.c_str());
    // Only its owner may ask this updater to come forward.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(impl_->path.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return;
    }
    impl_->fd = fd;
    impl_->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    // The connection is the whole request; the asking start has already gone.
    QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, receiver,
                     [fd, onRequest = std::move(onRequest)] {
                         int taken = 0;
                         while ((taken = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0)
                             ::close(taken);
                         onRequest();
                     });
}

RaiseListener::~RaiseListener() = default;

bool requestRaise(const QString& key) {
    sockaddr_un address{};
    std::string path;
    if (!addressOf(key, address, path))
        return false;
    const QDeadlineTimer deadline(kRequestBoundMs);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        // A connection to a local socket is made or refused at once; the
        // holder of the guard may still be starting: try again, briefly.
        const bool made =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (made)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kRetryPauseMs);
    }
}
