#pragma once

// Socket steps the benchmark proxies share.
namespace bench {

// Makes fd non-blocking and turns Nagle off, as a proxy's both ends want.
void makeProxyEnd(int fd);

// A blocking connect to 127.0.0.1:port; -1 when it fails.
int connectLoopback(int port);

} // namespace bench
