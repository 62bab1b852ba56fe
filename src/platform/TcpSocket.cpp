#include "platform/TcpSocket.h"

#include "platform/NotifierDisposal.h"
#include "platform/SocketAddress.h"
#include "platform/TcpDial.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

NotifierDisposal g_notifiers;

void discardNotifier(QSocketNotifier*& n)
{
    g_notifiers.discard(n);
}

int lastError(int fallback = EIO)
{
    return errno != 0 ? errno : fallback;
}

} // namespace

struct TcpSocket::Impl
{
    enum class State
    {
        Closed,
        Bound, // created for listening, not listening yet
        Listening,
        Connecting,
        Connected,
    };

    TcpSocketListener* listener = nullptr;
    int fd = -1;
    State state = State::Closed;
    bool wantWrite = false;
    // The close (or a read error) has been reported; reading further would only repeat it.
    bool readEnded = false;
    // The listener read during the current receive notification.
    bool readTaken = false;
    // Cleared by the destructor: a notification finds out whether its listener destroyed the
    // socket before touching it again.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    QSocketNotifier* readN = nullptr;
    QSocketNotifier* writeN = nullptr;
    SocketAddress peer;
    bool havePeer = false;
    TcpDial dial;

    ~Impl()
    {
        *alive = false;
        closeFd();
    }

    void closeFd()
    {
        dropSocket();
        wantWrite = false;
        readEnded = false;
        havePeer = false;
        dial.clear();
    }

    void dropSocket()
    {
        discardNotifier(readN);
        discardNotifier(writeN);
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        state = State::Closed;
    }

    void makeNotifiers()
    {
        discardNotifier(readN);
        discardNotifier(writeN);
        // No exception notifier: on Linux that is urgent data (POLLPRI), which no peer sends and
        // nobody would read, so it could only spin. Errors and hang-ups arrive as read and
        // write readiness.
        readN = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read);
        writeN = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Write);
        readN->setEnabled(false);
        writeN->setEnabled(false);
        QObject::connect(readN, &QSocketNotifier::activated, readN, [this] { onReadable(); });
        QObject::connect(writeN, &QSocketNotifier::activated, writeN, [this] { onWritable(); });
    }

    void enableRead(bool on)
    {
        if (readN)
            readN->setEnabled(on && !readEnded);
    }

    void updateWrite()
    {
        if (writeN)
            writeN->setEnabled(state == State::Connecting ||
                               (state == State::Connected && wantWrite));
    }

    void adopt(int newFd, State newState)
    {
        fd = newFd;
        state = newState;
        makeNotifiers();
        enableRead(state == State::Connected);
        updateWrite();
    }

    // Like a window message, the read notification is reported once and re-armed by the
    // next receive (or accept); a listener that does not read yet does not make the loop spin.
    void onReadable();
    void onWritable();
    void connectFinished();
    void takeAttempt(const TcpDial::Attempt& attempt);
};

void TcpSocket::Impl::onReadable()
{
    NotifierDisposal::Scope scope(g_notifiers);
    TcpSocketListener* l = listener;
    if (state == State::Listening) {
        readN->setEnabled(false);
        if (l)
            l->onAccept(0);
        return;
    }
    if (state != State::Connected) {
        readN->setEnabled(false);
        return;
    }
    char probe;
    ssize_t n;
    do {
        n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        // The notification stays armed while the listener reads (no system calls to switch it
        // off and on for every read); one that does not read switches it off until its next
        // receive.
        const std::shared_ptr<bool> living = alive;
        readTaken = false;
        if (l)
            l->onReceive(0);
        if (*living && !readTaken && readN)
            readN->setEnabled(false);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    // Orderly end (0) or a broken connection: either way nothing more will be read.
    const int err = n == 0 ? 0 : lastError();
    readN->setEnabled(false);
    readEnded = true;
    if (l)
        l->onClose(err);
}

void TcpSocket::Impl::onWritable()
{
    NotifierDisposal::Scope scope(g_notifiers);
    if (state == State::Connecting) {
        connectFinished();
        return;
    }
    if (state != State::Connected || !wantWrite) {
        writeN->setEnabled(false);
        return;
    }
    if (listener)
        listener->onSend(0);
}

void TcpSocket::Impl::connectFinished()
{
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = lastError();
    if (err == 0) {
        state = State::Connected;
        havePeer = SocketAddress::ofPeer(fd, peer);
        dial.clear();
        enableRead(true);
        updateWrite();
        if (listener)
            listener->onConnect(0);
        return;
    }
    dropSocket();
    TcpDial::Attempt next;
    if (dial.next(next)) {
        takeAttempt(next);
        if (!next.inProgress && listener)
            listener->onConnect(0);
        return;
    }
    if (listener)
        listener->onConnect(err);
}

// A connection made at once knows its peer; one in progress learns it when it completes.
void TcpSocket::Impl::takeAttempt(const TcpDial::Attempt& attempt)
{
    if (!attempt.inProgress) {
        peer = attempt.address;
        havePeer = true;
    }
    adopt(attempt.fd, attempt.inProgress ? State::Connecting : State::Connected);
}

TcpSocket::TcpSocket(TcpSocketListener* listener) : d_(std::make_unique<Impl>())
{
    d_->listener = listener;
}

TcpSocket::~TcpSocket() = default;

void TcpSocket::setListener(TcpSocketListener* listener)
{
    d_->listener = listener;
}

bool TcpSocket::createListening(int port, int* error)
{
    int dummy = 0;
    int* err = error ? error : &dummy;
    if (d_->fd >= 0) {
        *err = EISCONN;
        return false;
    }
    if (port < 0 || port > 65535) {
        *err = EINVAL;
        return false;
    }
    int s = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const bool v6 = s >= 0;
    if (!v6 && (errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT))
        s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        *err = lastError();
        return false;
    }
    const int one = 1;
    const int zero = 0;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (v6)
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    const SocketAddress any = SocketAddress::any(v6 ? AF_INET6 : AF_INET, port);
    if (::bind(s, any.get(), any.length) != 0) {
        *err = lastError();
        ::close(s);
        return false;
    }
    d_->fd = s;
    d_->state = Impl::State::Bound;
    return true;
}

bool TcpSocket::setReuseAddress(int* error)
{
    const int one = 1;
    if (::setsockopt(d_->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        if (error)
            *error = lastError();
        return false;
    }
    return true;
}

bool TcpSocket::listen(int backlog, int* error)
{
    if (d_->state != Impl::State::Bound || ::listen(d_->fd, backlog) != 0) {
        if (error)
            *error = d_->state != Impl::State::Bound ? EINVAL : lastError();
        return false;
    }
    d_->state = Impl::State::Listening;
    d_->makeNotifiers();
    d_->enableRead(true);
    return true;
}

bool TcpSocket::accept(TcpSocket& into, int* error)
{
    int dummy = 0;
    int* err = error ? error : &dummy;
    *err = 0;
    if (d_->state != Impl::State::Listening)
        return false;
    if (into.d_->fd >= 0) {
        d_->enableRead(true);
        *err = EISCONN;
        return false;
    }
    SocketAddress from;
    from.length = sizeof from.storage;
    int s;
    do {
        s = ::accept4(d_->fd, from.get(), &from.length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0) {
        *err = errno;
        const bool exhausted =
            *err == EMFILE || *err == ENFILE || *err == ENOBUFS || *err == ENOMEM;
        if (!exhausted)
            d_->enableRead(true);
        return false;
    }
    d_->enableRead(true);
    into.d_->peer = from;
    into.d_->havePeer = true;
    into.d_->adopt(s, Impl::State::Connected);
    return true;
}

void TcpSocket::resumeAccepting()
{
    if (d_->state == Impl::State::Listening)
        d_->enableRead(true);
}

ConnectResult TcpSocket::connect(const std::string& host, int port, int* error)
{
    int dummy = 0;
    int* err = error ? error : &dummy;
    if (d_->fd >= 0) {
        *err = EISCONN;
        return ConnectResult::Failed;
    }
    if (port <= 0 || port > 65535) {
        *err = EINVAL;
        return ConnectResult::Failed;
    }
    std::vector<SocketAddress> addresses;
    if (!SocketAddress::resolve(host, port, addresses, err))
        return ConnectResult::Failed;
    TcpDial::Attempt attempt;
    if (!d_->dial.start(addresses, attempt, err)) {
        d_->state = Impl::State::Closed;
        return ConnectResult::Failed;
    }
    d_->takeAttempt(attempt);
    return attempt.inProgress ? ConnectResult::InProgress : ConnectResult::Connected;
}

long TcpSocket::receive(void* buffer, std::size_t length, int* error)
{
    if (d_->fd < 0) {
        if (error)
            *error = ENOTCONN;
        return -1;
    }
    ssize_t n;
    do {
        n = ::recv(d_->fd, buffer, length, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    const int e = errno;
    d_->readTaken = true;
    if (d_->state == Impl::State::Connected)
        d_->enableRead(true);
    if (n < 0 && error)
        *error = e;
    return static_cast<long>(n);
}

long TcpSocket::send(const void* data, std::size_t length, int* error)
{
    if (d_->fd < 0) {
        if (error)
            *error = ENOTCONN;
        return -1;
    }
    ssize_t n;
    do {
        n = ::send(d_->fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && error)
        *error = errno;
    return static_cast<long>(n);
}

void TcpSocket::watchWrite(bool on)
{
    d_->wantWrite = on;
    d_->updateWrite();
}

void TcpSocket::setNoDelay(bool on)
{
    if (d_->fd < 0)
        return;
    const int v = on ? 1 : 0;
    ::setsockopt(d_->fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v);
}

void TcpSocket::shutdownBoth()
{
    if (d_->fd >= 0)
        ::shutdown(d_->fd, SHUT_RDWR);
}

void TcpSocket::close()
{
    d_->closeFd();
}

bool TcpSocket::isOpen() const
{
    return d_->fd >= 0;
}

bool TcpSocket::peerAddress(std::string& address, int& port) const
{
    if (d_->fd < 0)
        return false;
    if (d_->havePeer)
        return d_->peer.text(address, port);
    SocketAddress other;
    return SocketAddress::ofPeer(d_->fd, other) && other.text(address, port);
}

int TcpSocket::localPort() const
{
    SocketAddress local;
    if (d_->fd < 0 || !SocketAddress::ofLocal(d_->fd, local))
        return 0;
    return local.port();
}

} // namespace plat
