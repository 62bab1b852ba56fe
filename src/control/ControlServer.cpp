#include "control/ControlServer.h"

#include "control/LineFrame.h"
#include "platform/NotifierDisposal.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
plat::NotifierDisposal g_notifiers;

bool fillAddress(const std::string& path, sockaddr_un* addr)
{
    *addr = {};
    addr->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr->sun_path)
        return false;
    path.copy(addr->sun_path, path.size());
    return true;
}

// True when a process still accepts connections at path.
bool somebodyListens(const sockaddr_un& addr)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return answered;
}

QSocketNotifier* notifierFor(int fd, QSocketNotifier::Type type, std::function<void()> call)
{
    auto* n = new QSocketNotifier(static_cast<qintptr>(fd), type);
    QObject::connect(n, &QSocketNotifier::activated, n, [call = std::move(call)] {
        plat::NotifierDisposal::Scope scope(g_notifiers);
        call();
    });
    return n;
}
} // namespace

struct ControlServer::Client
{
    int fd = -1;
    long pid = 0;
    std::string in;
    std::string out;
    std::size_t sent = 0; // bytes of out already sent: a large reply leaves in many pieces
    QSocketNotifier* readN = nullptr;
    QSocketNotifier* writeN = nullptr;

    ~Client()
    {
        g_notifiers.discard(readN);
        g_notifiers.discard(writeN);
        if (fd >= 0)
            ::close(fd);
    }
};

ControlServer::ControlServer(Callbacks callbacks) : m_callbacks(std::move(callbacks)) {}

ControlServer::~ControlServer()
{
    stop();
}

bool ControlServer::listen(const std::string& path, std::string* why)
{
    stop();
    sockaddr_un addr;
    if (!fillAddress(path, &addr)) {
        *why = "the path is too long for a socket: " + path;
        return false;
    }
    struct stat st = {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || somebodyListens(addr)) {
            *why = S_ISSOCK(st.st_mode) ? "another node answers at " + path
                                        : path + " exists and is no socket";
            return false;
        }
        ::unlink(path.c_str()); // left by a node that has gone
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The socket file itself is this user's only, like the folder around it.
    const mode_t old = ::umask(077);
    const bool bound = fd >= 0 &&
                       ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
                       ::listen(fd, 8) == 0;
    const int error = errno;
    ::umask(old);
    if (!bound) {
        *why = path + ": " + std::strerror(error);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_path = path;
    m_listenFd = fd;
    m_listenNotifier = notifierFor(fd, QSocketNotifier::Read, [this] { acceptClients(); });
    return true;
}

void ControlServer::stop()
{
    m_clients.clear();
    g_notifiers.discard(m_listenNotifier);
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        ::unlink(m_path.c_str());
    }
    m_listenFd = -1;
}

void ControlServer::acceptClients()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN: all taken; anything else: the next notification tries again
        ucred cred = {};
        socklen_t length = sizeof cred;
        const bool sameUser = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 &&
                              cred.uid == ::getuid();
        if (!sameUser || clientCount() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        const int id = m_nextId++;
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->pid = cred.pid;
        client->readN = notifierFor(fd, QSocketNotifier::Read, [this, id] { readClient(id); });
        m_clients[id] = std::move(client);
    }
}

void ControlServer::readClient(int id)
{
    auto it = m_clients.find(id);
    if (it == m_clients.end())
        return;
    char buffer[16384];
    const ssize_t n = ::recv(it->second->fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        drop(id);
        return;
    }
    it->second->in.append(buffer, static_cast<std::size_t>(n));
    for (;;) {
        it = m_clients.find(id); // a callback may have closed it
        if (it == m_clients.end())
            return;
        std::string& in = it->second->in;
        const LineFrame::Result frame = LineFrame::next(in, kMaxLine);
        if (frame.status == LineFrame::Status::NeedMore)
            return;
        if (frame.status == LineFrame::Status::TooLong) {
            drop(id);
            return;
        }
        const std::string line = in.substr(0, frame.length);
        in.erase(0, frame.length + 1);
        if (m_callbacks.line)
            m_callbacks.line(id, line);
    }
}

bool ControlServer::send(int client, const std::string& line)
{
    const auto it = m_clients.find(client);
    if (it == m_clients.end())
        return false;
    Client& c = *it->second;
    // A reply may be large (the list of a big catalog); what must not grow is a backlog.
    if (c.out.size() > c.sent && c.out.size() - c.sent + line.size() + 1 > kMaxPending) {
        drop(client);
        return false;
    }
    if (c.sent > 0 && c.sent >= c.out.size() / 2) { // what has left is not kept
        c.out.erase(0, c.sent);
        c.sent = 0;
    }
    c.out += line;
    c.out += '\n';
    flush(client);
    return m_clients.count(client) != 0;
}

void ControlServer::flush(int id)
{
    const auto it = m_clients.find(id);
    if (it == m_clients.end())
        return;
    Client& c = *it->second;
    while (c.sent < c.out.size()) {
        const ssize_t n =
            ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!c.writeN)
                c.writeN = notifierFor(c.fd, QSocketNotifier::Write, [this, id] { flush(id); });
            return;
        }
        // A client that has gone is dropped from its read side, which sees the close.
        break;
    }
    c.out.clear();
    c.sent = 0;
    g_notifiers.discard(c.writeN);
}

void ControlServer::close(int client)
{
    m_clients.erase(client);
}

void ControlServer::drop(int id)
{
    if (m_clients.erase(id) && m_callbacks.closed)
        m_callbacks.closed(id);
}

long ControlServer::clientPid(int client) const
{
    const auto it = m_clients.find(client);
    return it == m_clients.end() ? 0 : it->second->pid;
}
