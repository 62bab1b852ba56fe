#pragma once

#include <atomic>
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
    // Everything relayed so far, both directions.
    std::string captured() const;
    std::size_t connections() const { return m_connections; }

private:
    void run();

    int m_targetPort;
    int m_listenFd = -1;
    int m_port = 0;
    int m_stopPipe[2] = {-1, -1};
    std::atomic<std::size_t> m_connections{0};
    mutable std::mutex m_mutex;
    std::string m_captured;
    std::thread m_thread;
};
