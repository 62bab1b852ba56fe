#include "control/ControlClient.h"

#include <QJsonDocument>

namespace {
// The longest line read: the list of a catalog at its largest is some tens of megabytes.
constexpr std::size_t kMaxReply = 512u * 1024 * 1024;
} // namespace

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ControlClient::~ControlClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ControlClient::connect(const std::string& path, std::string* why)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        *why = "no usable socket path";
        return false;
    }
    path.copy(addr.sun_path, path.size());
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int error = errno;
        *why = error == ENOENT || error == ECONNREFUSED
                   ? "no node is running for this user (" + path + ")"
                   : path + ": " + std::strerror(error);
        return false;
    }
    return true;
}

bool ControlClient::sendLine(const std::string& line, std::string* why)
{
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::send(m_fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *why = std::string("the node closed the connection: ") + std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<QJsonObject> ControlClient::request(QJsonObject request, int timeoutMs,
                                                  std::string* why)
{
    const int id = m_nextId++;
    request[QStringLiteral("id")] = id;
    if (!sendLine(QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString() + "\n", why))
        return std::nullopt;
    for (;;) {
        std::optional<QJsonObject> line = next(timeoutMs, why);
        if (!line || line->value(QStringLiteral("id")).toInt(-1) == id)
            return line;
    }
}

std::optional<QJsonObject> ControlClient::next(int timeoutMs, std::string* why)
{
    for (;;) {
        // Only the bytes not searched yet: a long reply arrives in many pieces.
        const std::size_t end = m_buffer.find('\n', m_searched);
        if (end != std::string::npos) {
            const QByteArray line = QByteArray::fromStdString(m_buffer.substr(0, end));
            m_buffer.erase(0, end + 1);
            m_searched = 0;
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (document.isObject())
                return document.object();
            continue;
        }
        m_searched = m_buffer.size();
        if (m_buffer.size() > kMaxReply) {
            *why = "the node sent a line too long to read";
            return std::nullopt;
        }
        pollfd p{m_fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR) {
            *why = "interrupted";
            return std::nullopt;
        }
        if (rc == 0) {
            *why = "the node did not answer in time";
            return std::nullopt;
        }
        char buffer[65536];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            *why = "the node closed the connection";
            return std::nullopt;
        }
        m_buffer.append(buffer, static_cast<std::size_t>(n));
    }
}
