#include "tcp/AddressGroup.h"

#include <gtest/gtest.h>

TEST(AddressGroup, IPv4CountsByAddressAndIPv6ByItsSlash64)
{
    const std::pair<const char*, const char*> cases[] = {
        {"127.0.0.2", "127.0.0.2"},
        {"192.0.2.7", "192.0.2.7"},
        {"::ffff:192.0.2.7", "192.0.2.7"}, // a mapped IPv4 peer on a dual-stack socket
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"fe80::1%eth0", "fe80::/64"},
        {"not an address", "not an address"},
    };
    for (const auto& [address, group] : cases)
        EXPECT_EQ(tcp::addressGroup(address), group) << address;
}
