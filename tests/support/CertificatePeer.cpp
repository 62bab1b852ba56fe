#include "CertificatePeer.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A fresh P-256 key and a self-signed certificate for it, installed in ctx.
bool useSelfSignedCertificate(SSL_CTX* ctx)
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("pavo-peer.example"), -1,
                                   -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_set_pubkey(cert, key) == 1 && X509_sign(cert, key, EVP_sha256()) > 0 &&
             SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

int listenLoopback(int* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

} // namespace

std::unique_ptr<CertificatePeer> CertificatePeer::server(int relayPort)
{
    return std::unique_ptr<CertificatePeer>(new CertificatePeer(true, relayPort, relayPort > 0));
}

std::unique_ptr<CertificatePeer> CertificatePeer::client(int nodePort, bool relay)
{
    return std::unique_ptr<CertificatePeer>(new CertificatePeer(false, nodePort, relay));
}

CertificatePeer::CertificatePeer(bool isServer, int targetPort, bool relay)
    : m_server(isServer), m_target(targetPort), m_relay(relay)
{
    m_ctx = SSL_CTX_new(isServer ? TLS_server_method() : TLS_client_method());
    if (!m_ctx || ::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return;
    if (isServer && !useSelfSignedCertificate(m_ctx))
        return;
    // It trusts anybody, as a relay that only wants the plaintext would.
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_NONE, nullptr);
    if (isServer || relay)
        m_listenFd = listenLoopback(&m_port);
    m_thread = std::thread([this] { run(); });
}

CertificatePeer::~CertificatePeer()
{
    if (m_stopPipe[1] >= 0)
        (void)::write(m_stopPipe[1], "x", 1);
    // A handshake blocked on a silent node ends with its socket.
    for (const auto& fd : m_active)
        if (const int f = fd.load(); f >= 0)
            ::shutdown(f, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_listenFd, m_stopPipe[0], m_stopPipe[1]})
        if (fd >= 0)
            ::close(fd);
    SSL_CTX_free(m_ctx);
}

std::string CertificatePeer::plaintext() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plaintext;
}

bool CertificatePeer::stopping() const
{
    pollfd p{m_stopPipe[0], POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

int CertificatePeer::dialLoopback(int port) const
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

void CertificatePeer::run()
{
    while (!stopping()) {
        int fd = -1;
        if (m_listenFd >= 0) {
            pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
            if (::poll(p, 2, -1) <= 0 || (p[1].revents & POLLIN))
                return;
            fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (fd < 0 && m_listenFd >= 0)
            continue;
        serveOne(fd);
        if (!m_server && !m_relay)
            return; // a plain client dials once
    }
}

void CertificatePeer::serveOne(int accepted)
{
    // Server: the accepted connection is the TLS one, relayed to the target. Client: the TLS
    // connection is dialled, and the accepted one (if any) is the plain node relayed.
    const int tlsFd = m_server ? accepted : dialLoopback(m_target);
    int plain = m_server ? (m_relay ? dialLoopback(m_target) : -1) : accepted;
    m_active[0] = tlsFd;
    m_active[1] = plain;
    // The destructor may have missed the descriptors just made.
    if (stopping())
        for (int fd : {tlsFd, plain})
            if (fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
    SSL* ssl = tlsFd >= 0 ? SSL_new(m_ctx) : nullptr;
    if (ssl) {
        SSL_set_fd(ssl, tlsFd);
        const int rc = m_server ? SSL_accept(ssl) : SSL_connect(ssl);
        if (rc == 1) {
            ++m_handshakes;
            pump(ssl, plain);
            SSL_shutdown(ssl);
        } else {
            ++m_failures;
        }
        SSL_free(ssl);
    }
    m_active[0] = -1;
    m_active[1] = -1;
    for (int fd : {tlsFd, plain})
        if (fd >= 0)
            ::close(fd);
}

void CertificatePeer::pump(SSL* ssl, int plain)
{
    char buffer[16384];
    const int tlsFd = SSL_get_fd(ssl);
    for (;;) {
        pollfd p[3] = {{tlsFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}, {plain, POLLIN, 0}};
        if (SSL_pending(ssl) == 0 && ::poll(p, plain >= 0 ? 3 : 2, -1) <= 0)
            return;
        if (p[1].revents & POLLIN)
            return;
        if (SSL_pending(ssl) > 0 || p[0].revents) {
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0)
                return;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_plaintext.append(buffer, static_cast<std::size_t>(n));
            }
            if (plain >= 0 && ::send(plain, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                return;
        }
        if (plain >= 0 && p[2].revents) {
            const long n = ::recv(plain, buffer, sizeof buffer, 0);
            if (n <= 0 || SSL_write(ssl, buffer, static_cast<int>(n)) <= 0)
                return;
        }
    }
}
