#pragma once

#include <string>
#include <sys/socket.h>
#include <vector>

namespace plat {

// One IPv4 or IPv6 socket address with its length, as the socket calls take it.
struct SocketAddress
{
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }

    // Numeric text and port; an IPv4-mapped IPv6 address reads as the plain IPv4 address. False
    // for other families.
    bool text(std::string& address, int& port) const;
    // The port; 0 for other families.
    int port() const;

    // Every stream address host names (a numeric address, or a name resolved with getaddrinfo,
    // which blocks until it completes). False with *error, an EAI_ code negated so that it never
    // reads as an errno, when the name does not resolve.
    static bool resolve(const std::string& host, int port, std::vector<SocketAddress>& out,
                        int* error);
    // The wildcard address of family (AF_INET6 or AF_INET) at port.
    static SocketAddress any(int family, int port);
    // The address at the other end of a connected socket, or the one it is bound to.
    static bool ofPeer(int fd, SocketAddress& out);
    static bool ofLocal(int fd, SocketAddress& out);
};

} // namespace plat
