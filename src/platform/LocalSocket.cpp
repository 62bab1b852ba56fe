#include "platform/LocalSocket.h"

#include "platform/NotifierDisposal.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace plat {

namespace {

NotifierDisposal g_notifiers;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// poll() for one event, restarted after signals with the time that is left.
bool waitFor(int fd, short events, int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, msLeft(until));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

struct LocalSocket::Impl
{
    std::function<void()> onReadable;
    int fd = -1;
    QSocketNotifier* readN = nullptr;

    ~Impl() { closeFd(); }

    void closeFd()
    {
        g_notifiers.discard(readN);
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    // Level-triggered: the callback must read or close, or it is called again at once.
    void readable()
    {
        NotifierDisposal::Scope scope(g_notifiers);
        if (onReadable) {
            // A copy, because the callback may replace or destroy the one stored here.
            const std::function<void()> call = onReadable;
            call();
        }
    }
};

LocalSocket::LocalSocket(std::function<void()> onReadable) : d_(std::make_unique<Impl>())
{
    d_->onReadable = std::move(onReadable);
}

LocalSocket::~LocalSocket() = default;

void LocalSocket::setOnReadable(std::function<void()> onReadable)
{
    d_->onReadable = std::move(onReadable);
}

bool LocalSocket::connect(const std::string& path, int* error)
{
    close();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        *error = ENAMETOOLONG;
        return false;
    }
    path.copy(addr.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    // A local connect completes at once or not at all; EAGAIN means the listener's backlog is
    // full, which counts as not answering.
    if (rc != 0) {
        *error = errno;
        ::close(fd);
        return false;
    }
    d_->fd = fd;
    d_->readN = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read);
    Impl* impl = d_.get();
    QObject::connect(d_->readN, &QSocketNotifier::activated, d_->readN,
                     [impl] { impl->readable(); });
    return true;
}

long LocalSocket::receive(void* buffer, std::size_t length, int* error)
{
    if (d_->fd < 0) {
        *error = ENOTCONN;
        return -1;
    }
    ssize_t n;
    do {
        n = ::recv(d_->fd, buffer, length, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        *error = errno;
    return static_cast<long>(n);
}

bool LocalSocket::sendAll(const void* data, std::size_t length, int timeoutMs, int* error)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < length) {
        if (d_->fd < 0) {
            *error = ENOTCONN;
            return false;
        }
        const ssize_t n = ::send(d_->fd, p + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            *error = errno;
            return false;
        }
        if (msLeft(until) == 0 || !waitFor(d_->fd, POLLOUT, msLeft(until))) {
            *error = ETIMEDOUT;
            return false;
        }
    }
    return true;
}

bool LocalSocket::waitReadable(int timeoutMs)
{
    return d_->fd >= 0 && waitFor(d_->fd, POLLIN, timeoutMs);
}

void LocalSocket::close()
{
    d_->closeFd();
}

bool LocalSocket::isOpen() const
{
    return d_->fd >= 0;
}

} // namespace plat
