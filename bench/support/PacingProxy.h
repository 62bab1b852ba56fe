#pragma once

#include <cstddef>
#include <sys/types.h>

// A TCP proxy on loopback that plays one slow uplink: whatever the target (the serving node)
// sends to any of the proxy's connections passes through one first-in first-out queue of
// queueBytes (a home router's buffer) that empties at bytesPerSecond; the other direction passes
// at once. It runs in a process of its own, forwards every connection it accepts to
// 127.0.0.1:targetPort, and ends with SIGTERM.
namespace bench {

struct PacingProxy
{
    pid_t pid = -1;
    int port = 0; // where to connect; 0 when it failed to start
};

PacingProxy startPacingProxy(int targetPort, double bytesPerSecond, std::size_t queueBytes);
void stopPacingProxy(PacingProxy& proxy);

} // namespace bench
