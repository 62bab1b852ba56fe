#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// A TLS end with a self-signed certificate and no party key, as anyone who receives a node's dial
// (or dials a node) can run: plain OpenSSL on a thread of its own, with blocking sockets. It
// keeps every plaintext byte it reads from the node; with a relay port it also carries the
// plaintext to and from a plain TCP node there, as a man in the middle would.
class CertificatePeer
{
public:
    // Listens on a free loopback port (port()) for the node to dial; relayPort > 0 relays each
    // connection's plaintext to that port.
    static std::unique_ptr<CertificatePeer> server(int relayPort = 0);
    // Dials nodePort with TLS at once; or, with relay, listens on port() for a plain node and
    // dials nodePort when that node has connected, relaying between the two.
    static std::unique_ptr<CertificatePeer> client(int nodePort, bool relay = false);
    ~CertificatePeer();
    CertificatePeer(const CertificatePeer&) = delete;
    CertificatePeer& operator=(const CertificatePeer&) = delete;

    int port() const { return m_port; }
    // Plaintext read from the node so far.
    std::string plaintext() const;
    // TLS handshakes that completed with the node.
    int handshakes() const { return m_handshakes; }
    // TLS handshakes that were tried and failed.
    int failures() const { return m_failures; }

private:
    CertificatePeer(bool isServer, int targetPort, bool relay);
    void run();
    void serveOne(int fd);
    // Carries plaintext between the TLS connection and the plain descriptor (-1: none) until
    // either ends or the peer stops.
    void pump(SSL* ssl, int plain);
    bool stopping() const;
    int dialLoopback(int port) const;

    bool m_server;
    int m_target;
    bool m_relay;
    int m_listenFd = -1;
    int m_port = 0;
    int m_stopPipe[2] = {-1, -1};
    SSL_CTX* m_ctx = nullptr;
    std::atomic<int> m_active[2] = {-1, -1};
    std::atomic<int> m_handshakes{0};
    std::atomic<int> m_failures{0};
    mutable std::mutex m_mutex;
    std::string m_plaintext;
    std::thread m_thread;
};
