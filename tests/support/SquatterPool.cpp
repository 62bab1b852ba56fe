#include "SquatterPool.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

// A non-blocking dial from 127.0.0.(2 + group) to 127.0.0.1:port; -1 when it failed at once.
int dialFrom(int group, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + static_cast<std::uint32_t>(group));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

SquatterPool::SquatterPool(int port, int count, int perAddress)
    : m_port(port), m_count(count), m_perAddress(perAddress)
{
    if (::pipe2(m_stopPipe, O_CLOEXEC) == 0)
        m_thread = std::thread([this] { run(); });
}

SquatterPool::~SquatterPool()
{
    if (m_stopPipe[1] >= 0)
        (void)::write(m_stopPipe[1], "x", 1);
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : m_stopPipe)
        if (fd >= 0)
            ::close(fd);
}

void SquatterPool::run()
{
    std::vector<int> fds(static_cast<std::size_t>(m_count), -1);
    for (int i = 0; i < m_count; ++i)
        fds[static_cast<std::size_t>(i)] = dialFrom(i / m_perAddress, m_port);
    m_started = true;
    std::vector<pollfd> polled;
    char sink[256];
    for (;;) {
        polled.assign(1, pollfd{m_stopPipe[0], POLLIN, 0});
        int open = 0;
        for (int fd : fds) {
            polled.push_back(pollfd{fd, POLLIN, 0});
            open += fd >= 0;
        }
        m_open = open;
        if (::poll(polled.data(), polled.size(), 20) < 0 || (polled[0].revents & POLLIN))
            break;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            const short ev = polled[i + 1].revents;
            // Closed by the node (or never connected): dialled again from the same address.
            if (fds[i] >= 0 && !(ev & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (fds[i] >= 0 && (ev & POLLIN) && ::recv(fds[i], sink, sizeof sink, 0) > 0)
                continue;
            if (fds[i] >= 0)
                ::close(fds[i]);
            fds[i] = dialFrom(static_cast<int>(i) / m_perAddress, m_port);
            ++m_redials;
        }
    }
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
}
