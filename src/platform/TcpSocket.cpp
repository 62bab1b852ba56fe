#include "platform/TcpSocket.h"

#include <QObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

// Notifications of any socket currently on the call stack. A notifier that is emitting must not
// be deleted, and which one that is cannot be asked of Qt; so while any notification runs, the
// notifiers of a closing socket go through deleteLater, otherwise they are deleted at once.
int g_dispatchDepth = 0;

struct DispatchScope
{
    DispatchScope() { ++g_dispatchDepth; }
    ~DispatchScope() { --g_dispatchDepth; }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;
};

void discardNotifier(QSocketNotifier*& n)
{
    if (!n)
        return;
    n->setEnabled(false);
    QObject::disconnect(n, nullptr, nullptr, nullptr);
    if (g_dispatchDepth > 0)
        n->deleteLater();
    else
        delete n;
    n = nullptr;
}

int lastError(int fallback = EIO)
{
    return errno != 0 ? errno : fallback;
}

// Numeric text of an address; an IPv4-mapped IPv6 address reads as the plain IPv4 address.
bool addressText(const sockaddr_storage& ss, std::string& address, int& port)
{
    sockaddr_storage copy = ss;
    if (ss.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ss);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
            sockaddr_in in4{};
            in4.sin_family = AF_INET;
            in4.sin_port = in6->sin6_port;
            std::memcpy(&in4.sin_addr, in6->sin6_addr.s6_addr + 12, 4);
            std::memset(&copy, 0, sizeof copy);
            std::memcpy(&copy, &in4, sizeof in4);
        }
    }
    const socklen_t len = copy.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (copy.ss_family != AF_INET && copy.ss_family != AF_INET6)
        return false;
    char host[NI_MAXHOST];
    char serv[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&copy), len, host, sizeof host, serv,
                    sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return false;
    address = host;
    port = std::atoi(serv);
    return true;
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
    sockaddr_storage peer{};
    bool havePeer = false;
    // Addresses still to try when a connect in progress fails.
    std::vector<sockaddr_storage> nextAddrs;
    std::vector<socklen_t> nextLens;

    ~Impl()
    {
        *alive = false;
        closeFd();
    }

    void closeFd()
    {
        discardNotifier(readN);
        discardNotifier(writeN);
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        state = State::Closed;
        wantWrite = false;
        readEnded = false;
        havePeer = false;
        nextAddrs.clear();
        nextLens.clear();
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
    bool startConnect(const sockaddr* addr, socklen_t len, int* error, bool* inProgress);
};

void TcpSocket::Impl::onReadable()
{
    DispatchScope scope;
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
    DispatchScope scope;
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
        socklen_t plen = sizeof peer;
        havePeer = ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &plen) == 0;
        nextAddrs.clear();
        nextLens.clear();
        enableRead(true);
        updateWrite();
        if (listener)
            listener->onConnect(0);
        return;
    }
    // A name may resolve to several addresses (localhost: ::1 and 127.0.0.1); a refusal on one
    // is not yet a failure of the dial.
    while (!nextAddrs.empty()) {
        sockaddr_storage addr = nextAddrs.front();
        socklen_t alen = nextLens.front();
        nextAddrs.erase(nextAddrs.begin());
        nextLens.erase(nextLens.begin());
        bool inProgress = false;
        int nextErr = 0;
        if (startConnect(reinterpret_cast<const sockaddr*>(&addr), alen, &nextErr, &inProgress)) {
            if (inProgress)
                return;
            if (listener)
                listener->onConnect(0);
            return;
        }
    }
    discardNotifier(readN);
    discardNotifier(writeN);
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    state = State::Closed;
    if (listener)
        listener->onConnect(err);
}

// Opens a socket for addr and starts connecting; true when connected or in progress.
bool TcpSocket::Impl::startConnect(const sockaddr* addr, socklen_t len, int* error,
                                   bool* inProgress)
{
    discardNotifier(readN);
    discardNotifier(writeN);
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    const int s = ::socket(addr->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        *error = lastError();
        return false;
    }
    int rc;
    do {
        rc = ::connect(s, addr, len);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        std::memset(&peer, 0, sizeof peer);
        std::memcpy(&peer, addr, len);
        havePeer = true;
        adopt(s, State::Connected);
        *inProgress = false;
        return true;
    }
    if (errno == EINPROGRESS) {
        adopt(s, State::Connecting);
        *inProgress = true;
        return true;
    }
    *error = lastError();
    ::close(s);
    state = State::Closed;
    return false;
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
    int rc;
    if (v6) {
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(static_cast<uint16_t>(port));
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0) {
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
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    int s;
    do {
        s = ::accept4(d_->fd, reinterpret_cast<sockaddr*>(&ss), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
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
    into.d_->peer = ss;
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
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        // Resolution failures are negative, so that they never read as an errno.
        *err = rc < 0 ? rc : -(rc == 0 ? EAI_NONAME : rc);
        if (list)
            ::freeaddrinfo(list);
        return ConnectResult::Failed;
    }
    std::vector<sockaddr_storage> addrs;
    std::vector<socklen_t> lens;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage ss{};
        std::memcpy(&ss, ai->ai_addr, ai->ai_addrlen);
        addrs.push_back(ss);
        lens.push_back(ai->ai_addrlen);
    }
    ::freeaddrinfo(list);
    *err = EADDRNOTAVAIL;
    for (std::size_t i = 0; i < addrs.size(); ++i) {
        bool inProgress = false;
        if (!d_->startConnect(reinterpret_cast<const sockaddr*>(&addrs[i]), lens[i], err,
                              &inProgress))
            continue;
        if (!inProgress)
            return ConnectResult::Connected;
        d_->nextAddrs.assign(addrs.begin() + static_cast<long>(i) + 1, addrs.end());
        d_->nextLens.assign(lens.begin() + static_cast<long>(i) + 1, lens.end());
        return ConnectResult::InProgress;
    }
    return ConnectResult::Failed;
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
        return addressText(d_->peer, address, port);
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(d_->fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return false;
    return addressText(ss, address, port);
}

int TcpSocket::localPort() const
{
    if (d_->fd < 0)
        return 0;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(d_->fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return 0;
    if (ss.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    if (ss.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    return 0;
}

} // namespace plat
