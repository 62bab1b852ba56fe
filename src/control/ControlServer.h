#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;

// The listening side of the node's control socket: a Unix-domain stream socket in a folder only
// this user can enter, so no other user reaches it (the peer's user is checked again on every
// accept). No network port is ever opened. Clients send lines and get lines; the owner reads
// each complete line and answers or pushes events with send().
//
// Outgoing lines wait in a buffer per client while the client does not read; a client whose
// backlog would grow beyond kMaxPending (a watcher that stopped reading) is dropped rather than
// letting the node's memory grow. Every callback runs on the event loop; a callback may close any
// client.
class ControlServer
{
public:
    static constexpr std::size_t kMaxLine = 64 * 1024;
    static constexpr std::size_t kMaxPending = 8 * 1024 * 1024;
    static constexpr int kMaxClients = 16;

    struct Callbacks
    {
        std::function<void(int client, const std::string& line)> line;
        std::function<void(int client)> closed;
    };

    explicit ControlServer(Callbacks callbacks);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Listens at path. A socket file left by a node that has gone is replaced; one where a node
    // still answers is not (false, *why says so).
    bool listen(const std::string& path, std::string* why);
    // Stops listening, closes every client and removes the socket file.
    void stop();
    bool listening() const { return m_listenFd >= 0; }

    // Queues line and "\n" for client; false when the client has gone (or was dropped now).
    bool send(int client, const std::string& line);
    void close(int client);
    int clientCount() const { return static_cast<int>(m_clients.size()); }
    // The process id of a client, as the kernel tells it (0 when unknown).
    long clientPid(int client) const;

private:
    struct Client;

    void acceptClients();
    void readClient(int id);
    void flush(int id);
    void drop(int id);

    Callbacks m_callbacks;
    std::string m_path;
    int m_listenFd = -1;
    QSocketNotifier* m_listenNotifier = nullptr;
    std::map<int, std::unique_ptr<Client>> m_clients;
    int m_nextId = 1;
};
