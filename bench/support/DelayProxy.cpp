#include "support/DelayProxy.h"
#include "support/ProxySocket.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// Beyond this many bytes waiting in one direction the proxy stops reading that side, so a
// sender faster than its receiver is held back by TCP rather than by the proxy's memory.
constexpr std::size_t kMaxQueued = 64u << 20;
constexpr std::size_t kReadSize = 256u << 10;

volatile std::sig_atomic_t g_stop = 0;

struct Packet
{
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
};

struct Direction
{
    int from = -1;
    int to = -1;
    std::deque<Packet> queue;
    std::size_t queued = 0;
    bool eof = false;
    bool shut = false;
};

struct Pair
{
    Direction dir[2];
    bool dead = false;
};

[[noreturn]] void serve(int listenFd, int targetPort, int delayMs)
{
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGPIPE, SIG_IGN);
    const auto delay = std::chrono::milliseconds(delayMs);
    std::vector<std::unique_ptr<Pair>> pairs;
    std::vector<std::uint8_t> buffer(kReadSize);
    while (!g_stop) {
        std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
        std::vector<std::pair<Direction*, short>> owners{{nullptr, 0}};
        auto next = Clock::time_point::max();
        for (auto& p : pairs) {
            for (Direction& d : p->dir) {
                if (!d.eof && d.queued < kMaxQueued) {
                    fds.push_back({d.from, POLLIN, 0});
                    owners.push_back({&d, POLLIN});
                }
                if (!d.queue.empty()) {
                    if (d.queue.front().due <= Clock::now()) {
                        fds.push_back({d.to, POLLOUT, 0});
                        owners.push_back({&d, POLLOUT});
                    } else {
                        next = std::min(next, d.queue.front().due);
                    }
                }
            }
        }
        timespec ts{0, 50'000'000};
        if (next != Clock::time_point::max()) {
            const auto wait = std::max(Clock::duration::zero(), next - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            ts = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        }
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int a = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (a >= 0) {
                const int b = connectLoopback(targetPort);
                if (b < 0) {
                    ::close(a);
                } else {
                    makeProxyEnd(a);
                    makeProxyEnd(b);
                    auto p = std::make_unique<Pair>();
                    p->dir[0].from = a;
                    p->dir[0].to = b;
                    p->dir[1].from = b;
                    p->dir[1].to = a;
                    pairs.push_back(std::move(p));
                    continue; // the poll set no longer matches
                }
            }
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            Direction& d = *owners[i].first;
            if (owners[i].second == POLLIN && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = ::read(d.from, buffer.data(), buffer.size());
                if (n > 0) {
                    d.queue.push_back(
                        {Clock::now() + delay,
                         std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + n), 0});
                    d.queued += static_cast<std::size_t>(n);
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    d.eof = true;
                }
            }
        }
        for (auto& p : pairs) {
            for (Direction& d : p->dir) {
                while (!d.queue.empty() && d.queue.front().due <= Clock::now()) {
                    Packet& pk = d.queue.front();
                    const ssize_t n = ::send(d.to, pk.bytes.data() + pk.sent,
                                             pk.bytes.size() - pk.sent, MSG_NOSIGNAL);
                    if (n <= 0) {
                        if (n < 0 && errno != EAGAIN && errno != EINTR)
                            p->dead = true;
                        break;
                    }
                    pk.sent += static_cast<std::size_t>(n);
                    d.queued -= static_cast<std::size_t>(n);
                    if (pk.sent == pk.bytes.size())
                        d.queue.pop_front();
                }
                if (d.eof && d.queue.empty() && !d.shut) {
                    ::shutdown(d.to, SHUT_WR);
                    d.shut = true;
                }
            }
            if (p->dir[0].shut && p->dir[1].shut)
                p->dead = true;
        }
        for (auto it = pairs.begin(); it != pairs.end();) {
            if ((*it)->dead) {
                ::close((*it)->dir[0].from);
                ::close((*it)->dir[1].from);
                it = pairs.erase(it);
            } else {
                ++it;
            }
        }
    }
    ::_exit(0);
}

} // namespace

DelayProxy startDelayProxy(int targetPort, int delayMs)
{
    DelayProxy proxy;
    int port = 0;
    const int fd = listenLoopback(port);
    if (fd < 0)
        return proxy;
    proxy.pid = ::fork();
    if (proxy.pid == 0)
        serve(fd, targetPort, delayMs);
    ::close(fd);
    proxy.port = proxy.pid > 0 ? port : 0;
    return proxy;
}

void stopDelayProxy(DelayProxy& proxy)
{
    endProxyProcess(proxy.pid);
    proxy = {};
}

} // namespace bench
