#include "app/TcpAddress.h"

#include <gtest/gtest.h>

struct AddressCase
{
    const char* address;
    const char* host;
    int port;
};

TEST(TcpAddress, HostAndPortSplitAtTheFirstSlash)
{
    const AddressCase cases[] = {
        {"example.org", "example.org", 42000},
        {"example.org/43000", "example.org", 43000},
        {"10.0.0.1/1", "10.0.0.1", 1},
        {"h/65535", "h", 65535},
        {"h/1/2", "h", 1},
        {"h/43000x", "h", 43000},
        {"/123", "", 123},
        // No port number after the slash: the default port rather than port 0.
        {"h/", "h", 42000},
        {"h/abc", "h", 42000},
        {"h/0", "h", 42000},
        {"h/65536", "h", 42000},
        {"h/99999999999999999999", "h", 42000},
        {"", "", 42000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(addressHost(c.address), c.host) << c.address;
        EXPECT_EQ(addressPort(c.address), c.port) << c.address;
    }
}
