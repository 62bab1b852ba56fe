#pragma once

#include <string>
#include <string_view>

// The port every node listens on unless told otherwise, and the one dialled when a TCP address
// names none.
constexpr int kDefaultTcpPort = 42000;

// The host part of a TCP address: everything before its first "/", or the whole text.
std::string addressHost(std::string_view address);
// The port part of a TCP address: the decimal number after its first "/"; kDefaultTcpPort when
// there is no "/", or when the text after it does not start with a port number in 1..65535
// (so "host/abc" and "host/99999" dial the default port rather than port 0 or a wrapped one).
int addressPort(std::string_view address);
