#include "app/TcpAddress.h"

std::string addressHost(std::string_view address)
{
    return std::string(address.substr(0, address.find('/')));
}

int addressPort(std::string_view address)
{
    const auto slash = address.find('/');
    if (slash == std::string_view::npos)
        return kDefaultTcpPort;
    long port = 0;
    std::size_t digits = 0;
    for (char c : address.substr(slash + 1)) {
        if (c < '0' || c > '9')
            break;
        port = port * 10 + (c - '0');
        if (port > 65535)
            return kDefaultTcpPort;
        ++digits;
    }
    if (digits == 0 || port == 0)
        return kDefaultTcpPort;
    return static_cast<int>(port);
}
