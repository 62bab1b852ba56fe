#pragma once

#include <string>

namespace tcp {

// The group a peer's address text (as the socket reports it) counts under when connections
// waiting for their hello are limited per address: an IPv4 address by itself, an IPv6 address
// by its /64 prefix (one home or one host usually holds a whole /64, so counting single IPv6
// addresses would limit nobody). Text that is no address stays its own group.
std::string addressGroup(const std::string& address);

} // namespace tcp
