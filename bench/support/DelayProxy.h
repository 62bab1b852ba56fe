#pragma once

#include <sys/types.h>

// A TCP proxy on loopback that delays each direction by a fixed time without limiting the
// bandwidth: bytes read at t are written on at t + delay. It runs in a process of its own,
// forwards every connection it accepts to 127.0.0.1:targetPort, and ends with SIGTERM.
namespace bench {

struct DelayProxy
{
    pid_t pid = -1;
    int port = 0; // where to connect; 0 when it failed to start
};

DelayProxy startDelayProxy(int targetPort, int delayMs);
void stopDelayProxy(DelayProxy& proxy);

} // namespace bench
