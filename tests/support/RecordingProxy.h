#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// A TCP relay on loopback for the multi-process tests: it listens on a free port, forwards every
// connection it accepts to a target port, and keeps a copy of every byte that passes in either
// direction, as someone on the path would see them. It runs on a thread of its own, so the test
// may sleep while the nodes talk through it.
class RecordingProxy
{
public:
    explicit RecordingProxy(int targetPort);
    ~RecordingProxy();
    RecordingProxy(const RecordingProxy&) = delete;
    RecordingProxy& operator=(const RecordingProxy&) = delete;

    int port() const { return m_port; }
    // Hands every whole message (a frame of the node-to-node stream) to filter before it is
    // relayed, so a test can alter what passes; set before any connection is made. Without a
    // filter bytes pass as they come.
    void setFrameFilter(std::function<void(std::string& frame)> filter)
    {
        m_filter = std::move(filter);
    }
    // Everything relayed so far, both directions.
    std::string captured() const;
    std::size_t connections() const { return m_connections; }

private:
    void run();
    bool relay(int from, int to, const char* data, std::size_t length);

    int m_targetPort;
    int m_listenFd = -1;
    int m_port = 0;
    int m_stopPipe[2] = {-1, -1};
    std::atomic<std::size_t> m_connections{0};
    mutable std::mutex m_mutex;
    std::string m_captured;
    std::function<void(std::string& frame)> m_filter;
    // Per descriptor, the bytes of a frame not yet whole (with a filter only).
    std::map<int, std::string> m_partial;
    std::thread m_thread;
};
