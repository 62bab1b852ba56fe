#include "RecordingProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace {

int dialLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool writeAll(int fd, const char* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

RecordingProxy::RecordingProxy(int targetPort) : m_targetPort(targetPort)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(m_listenFd, 8) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        ::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return;
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { run(); });
}

RecordingProxy::~RecordingProxy()
{
    if (m_thread.joinable()) {
        const char stop = 0;
        (void)!::write(m_stopPipe[1], &stop, 1);
        m_thread.join();
    }
    for (int fd : {m_listenFd, m_stopPipe[0], m_stopPipe[1]})
        if (fd >= 0)
            ::close(fd);
}

std::string RecordingProxy::captured() const
{
    std::lock_guard lock(m_mutex);
    return m_captured;
}

bool RecordingProxy::relay(int from, int to, const char* data, std::size_t length)
{
    if (!m_filter)
        return writeAll(to, data, length);
    std::string& pending = m_partial[from];
    pending.append(data, length);
    const auto u16 = [&](std::size_t at) {
        return std::size_t(std::uint8_t(pending[at])) | std::size_t(std::uint8_t(pending[at + 1]))
                                                            << 8;
    };
    while (pending.size() >= 48) {
        const std::size_t frame = u16(0) + u16(2);
        if (frame < 48) {
            // Not a frame stream: pass the rest as it is.
            const bool ok = writeAll(to, pending.data(), pending.size());
            pending.clear();
            return ok;
        }
        if (pending.size() < frame)
            break;
        std::string whole = pending.substr(0, frame);
        pending.erase(0, frame);
        m_filter(whole);
        if (!writeAll(to, whole.data(), whole.size()))
            return false;
    }
    return true;
}

void RecordingProxy::run()
{
    // Pairs of descriptors: fds[2i] is the accepted side, fds[2i + 1] the dialled one.
    std::vector<int> fds;
    char buffer[65536];
    for (;;) {
        std::vector<pollfd> polls{{m_stopPipe[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        for (int fd : fds)
            polls.push_back({fd, POLLIN, 0});
        if (::poll(polls.data(), polls.size(), -1) < 0)
            continue;
        if (polls[0].revents)
            break;
        // Only the descriptors polled this round; a pair accepted now joins the next one.
        const std::size_t polled = fds.size();
        if (polls[1].revents & POLLIN) {
            const int in = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            const int out = in >= 0 ? dialLoopback(m_targetPort) : -1;
            if (out >= 0) {
                fds.push_back(in);
                fds.push_back(out);
                ++m_connections;
            } else if (in >= 0) {
                ::close(in);
            }
        }
        std::vector<std::size_t> dead;
        for (std::size_t i = 0; i < polled; ++i) {
            if (!polls[i + 2].revents)
                continue;
            const ssize_t n = ::recv(fds[i], buffer, sizeof buffer, 0);
            const int other = fds[i ^ 1];
            if (n > 0) {
                {
                    std::lock_guard lock(m_mutex);
                    m_captured.append(buffer, static_cast<std::size_t>(n));
                }
                if (relay(fds[i], other, buffer, static_cast<std::size_t>(n)))
                    continue;
            }
            dead.push_back(i & ~std::size_t{1});
        }
        for (auto it = dead.rbegin(); it != dead.rend(); ++it) {
            if (*it + 1 >= fds.size() || fds[*it] < 0)
                continue;
            ::close(fds[*it]);
            ::close(fds[*it + 1]);
            fds[*it] = fds[*it + 1] = -1;
        }
        std::vector<int> alive;
        for (int fd : fds)
            if (fd >= 0)
                alive.push_back(fd);
        fds.swap(alive);
    }
    for (int fd : fds)
        ::close(fd);
}
