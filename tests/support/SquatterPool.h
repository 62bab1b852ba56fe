#pragma once

#include <atomic>
#include <thread>

// Idle TCP connections held open to a node from many loopback addresses (127.0.0.2 and up),
// as a squatter that wants to keep members out would: none of them ever sends a byte, and each
// one the node closes is dialled again at once. It runs on a thread of its own with its own
// sockets, so the node's event loop meanwhile works as against real remote hosts.
class SquatterPool
{
public:
    // count connections to 127.0.0.1:port, perAddress of them from each source address.
    SquatterPool(int port, int count, int perAddress);
    ~SquatterPool();
    SquatterPool(const SquatterPool&) = delete;
    SquatterPool& operator=(const SquatterPool&) = delete;

    // Connections open now, and how often one had to be dialled again.
    int open() const { return m_open; }
    int redials() const { return m_redials; }
    // True once every connection has been dialled at least once.
    bool started() const { return m_started; }

private:
    void run();

    int m_port;
    int m_count;
    int m_perAddress;
    int m_stopPipe[2] = {-1, -1};
    std::atomic<int> m_open{0};
    std::atomic<int> m_redials{0};
    std::atomic<bool> m_started{false};
    std::thread m_thread;
};
