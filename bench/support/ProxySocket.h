#pragma once

#include <sys/types.h>

// Socket steps the benchmark proxies share.
namespace bench {

// Makes fd non-blocking and turns Nagle off, as a proxy's both ends want.
void makeProxyEnd(int fd);

// A blocking connect to 127.0.0.1:port; -1 when it fails.
int connectLoopback(int port);

// A listening socket on an ephemeral loopback port, which goes to port; -1 when it fails.
int listenLoopback(int& port);

// Ends a proxy process with SIGTERM and waits for it; nothing when pid is not a child's.
void endProxyProcess(pid_t pid);

} // namespace bench
