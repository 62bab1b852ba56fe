#pragma once

#include <cstddef>
#include <memory>
#include <string>

// A non-blocking TCP socket whose readiness the event loop reports, in the manner of an
// asynchronous socket: accept, connect completion (with SO_ERROR), receive, send and close.
namespace plat {

class TcpSocketListener
{
public:
    virtual ~TcpSocketListener() = default;
    // A listening socket has a connection waiting to be accepted.
    virtual void onAccept(int error) { (void)error; }
    // A connect in progress has ended; error 0 on success, else the SO_ERROR value.
    virtual void onConnect(int error) { (void)error; }
    // Bytes (or an error to read) are waiting.
    virtual void onReceive(int error) { (void)error; }
    // The socket accepts bytes again (only reported while watchWrite(true)).
    virtual void onSend(int error) { (void)error; }
    // The peer closed its side and no bytes are left to read.
    virtual void onClose(int error) { (void)error; }
};

enum class ConnectResult
{
    Connected,  // connected at once
    InProgress, // onConnect follows
    Failed, // *error holds the reason (an errno, or an EAI_ code negated for resolution failures)
};

class TcpSocket
{
public:
    explicit TcpSocket(TcpSocketListener* listener = nullptr);
    // Closes the socket. Safe at any time, also from inside one of its own notifications.
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    void setListener(TcpSocketListener* listener);

    // Listening in three steps, so callers can report which one failed (errno in *error).
    // create: a dual-stack (IPv6 + IPv4) socket bound to port on all local addresses; address
    // reuse is set before the bind, as the bind would otherwise fail on a port in TIME_WAIT.
    bool createListening(int port, int* error);
    bool setReuseAddress(int* error);
    bool listen(int backlog, int* error);

    // Accepts a waiting connection into into (which must be closed). False when none waits or
    // the accept failed (errno in *error). When the process or the system is out of descriptors
    // (EMFILE, ENFILE) or memory, the listening socket is not watched again until
    // resumeAccepting(): the waiting connection would report itself again at once, for ever.
    bool accept(TcpSocket& into, int* error = nullptr);
    void resumeAccepting();

    // Non-blocking connect; the host is a numeric address or a name resolved with getaddrinfo
    // (which blocks until it completes).
    ConnectResult connect(const std::string& host, int port, int* error);

    // > 0 bytes read; 0 the peer closed; -1 with *error (EAGAIN/EWOULDBLOCK: nothing to read).
    long receive(void* buffer, std::size_t length, int* error);
    // >= 0 bytes written; -1 with *error (EAGAIN/EWOULDBLOCK: would block).
    long send(const void* data, std::size_t length, int* error);

    // Report onSend while on; watch it only while bytes are pending.
    void watchWrite(bool on);
    void setNoDelay(bool on);

    void shutdownBoth();
    void close();
    bool isOpen() const;

    // The peer's numeric address text and port; false when not connected.
    bool peerAddress(std::string& address, int& port) const;
    // The bound local port (for listening sockets bound to port 0 in tests).
    int localPort() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace plat
