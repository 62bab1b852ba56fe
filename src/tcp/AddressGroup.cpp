#include "tcp/AddressGroup.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace tcp {

std::string addressGroup(const std::string& address)
{
    // A link-local address carries its interface after '%'; the prefix does not depend on it.
    const std::string bare = address.substr(0, address.find('%'));
    in6_addr v6{};
    if (::inet_pton(AF_INET6, bare.c_str(), &v6) != 1)
        return address;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        char text[INET_ADDRSTRLEN];
        if (::inet_ntop(AF_INET, v6.s6_addr + 12, text, sizeof text))
            return text;
    }
    std::memset(v6.s6_addr + 8, 0, 8);
    char text[INET6_ADDRSTRLEN];
    if (!::inet_ntop(AF_INET6, &v6, text, sizeof text))
        return address;
    return std::string(text) + "/64";
}

} // namespace tcp
