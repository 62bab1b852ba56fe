#include "platform/SocketAddress.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

namespace plat {
namespace {

// An IPv4-mapped IPv6 address as the plain IPv4 address; any other address as it is.
sockaddr_storage unmapped(const sockaddr_storage& ss)
{
    sockaddr_storage copy = ss;
    if (ss.ss_family != AF_INET6)
        return copy;
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ss);
    if (!IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
        return copy;
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_port = in6->sin6_port;
    std::memcpy(&in4.sin_addr, in6->sin6_addr.s6_addr + 12, 4);
    std::memset(&copy, 0, sizeof copy);
    std::memcpy(&copy, &in4, sizeof in4);
    return copy;
}

} // namespace

bool SocketAddress::text(std::string& address, int& port) const
{
    const sockaddr_storage copy = unmapped(storage);
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

int SocketAddress::port() const
{
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    if (storage.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    return 0;
}

bool SocketAddress::resolve(const std::string& host, int port, std::vector<SocketAddress>& out,
                            int* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        *error = rc < 0 ? rc : -(rc == 0 ? EAI_NONAME : rc);
        if (list)
            ::freeaddrinfo(list);
        return false;
    }
    out.clear();
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SocketAddress a;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        out.push_back(a);
    }
    ::freeaddrinfo(list);
    return true;
}

SocketAddress SocketAddress::any(int family, int port)
{
    SocketAddress a;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_any;
        in6->sin6_port = htons(static_cast<uint16_t>(port));
        a.length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&a.storage);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_ANY);
        in4->sin_port = htons(static_cast<uint16_t>(port));
        a.length = sizeof(sockaddr_in);
    }
    return a;
}

bool SocketAddress::ofPeer(int fd, SocketAddress& out)
{
    out.length = sizeof out.storage;
    return ::getpeername(fd, out.get(), &out.length) == 0;
}

bool SocketAddress::ofLocal(int fd, SocketAddress& out)
{
    out.length = sizeof out.storage;
    return ::getsockname(fd, out.get(), &out.length) == 0;
}

} // namespace plat
