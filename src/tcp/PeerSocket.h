#pragma once

#include "platform/TcpSocket.h"
#include "platform/TlsContext.h"
#include "platform/TlsLink.h"
#include "platform/TlsSession.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tcp {

class PeerSocketListener : public plat::TcpSocketListener
{
public:
    // The TLS handshake failed (the peer has another key, none, or speaks plain TCP). Nothing
    // the peer sent has been passed on; the socket is still open and the listener closes it.
    virtual void onHandshakeFailed(const std::string& reason) { (void)reason; }
};

// The socket of one TCP connection as its stream sees it: plain TCP, byte for byte, while no
// TLS set-up is given; otherwise TLS over the same non-blocking socket, started as client by
// a dial and as server by an accept. The stream then reads and writes plaintext through the
// same calls and gets the same notifications; until the handshake is complete it reads nothing
// and every write would block, and it is told when writing becomes possible.
//
// Ciphertext is read from the socket only when the stream asks for bytes, so a stream that
// stops reading holds the peer back as with plain TCP. When decrypted bytes are left over after
// a read, a receive notification follows on a later turn of the event loop. The TLS session
// reads and writes the socket itself (its link): ciphertext in blocks as large as the stream
// reads, and each send's records in one write.
class PeerSocket : private plat::TcpSocketListener, private plat::TlsLink
{
public:
    explicit PeerSocket(PeerSocketListener* listener);
    ~PeerSocket() override;
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    // The TLS set-up of connections dialled or accepted from now on; nullptr for plain TCP.
    void setTls(std::shared_ptr<const plat::TlsContext> context);
    bool usesTls() const { return context_ != nullptr; }
    // TLS is up: the handshake is complete.
    bool secured() const { return session_ && session_->established(); }
    // Why the handshake failed (None while it has not).
    plat::TlsSession::Refusal refusal() const
    {
        return session_ ? session_->refusal() : plat::TlsSession::Refusal::None;
    }

    bool createListening(int port, int* error) { return socket_.createListening(port, error); }
    bool setReuseAddress(int* error) { return socket_.setReuseAddress(error); }
    bool listen(int backlog, int* error) { return socket_.listen(backlog, error); }
    // Accepts a waiting connection into into, which takes this socket's TLS set-up.
    // As plat::TcpSocket::accept: out of descriptors, accepting waits for resumeAccepting().
    bool accept(PeerSocket& into, int* error = nullptr);
    void resumeAccepting() { socket_.resumeAccepting(); }
    plat::ConnectResult connect(const std::string& host, int port, int* error);

    long receive(void* buffer, std::size_t length, int* error);
    long send(const void* data, std::size_t length, int* error);
    void watchWrite(bool on);
    void setNoDelay(bool on) { socket_.setNoDelay(on); }

    void shutdownBoth() { socket_.shutdownBoth(); }
    void close();
    bool isOpen() const { return socket_.isOpen(); }
    bool peerAddress(std::string& address, int& port) const
    {
        return socket_.peerAddress(address, port);
    }
    int localPort() const { return socket_.localPort(); }

private:
    // The most plaintext one send encrypts.
    static constexpr std::size_t kChunk = 65536;

    // plat::TcpSocketListener of the socket underneath.
    void onAccept(int error) override;
    void onConnect(int error) override;
    void onReceive(int error) override;
    void onSend(int error) override;
    void onClose(int error) override;

    // plat::TlsLink: the session's ciphertext through the socket.
    long receiveCiphertext(void* buffer, std::size_t length, int* error) override;
    long sendCiphertext(const void* data, std::size_t length, int* error) override;

    void startTls(plat::TlsSession::Role role);
    // Runs the handshake as far as the bytes that arrived allow.
    void driveHandshake();
    void handshakeFailed(std::string reason);
    // The peer closed, or the socket failed, before the handshake was complete.
    void handshakeCut(std::string reason);
    // Takes over what the session's last read of the socket said: the end or an error.
    void noteLinkState();
    // Writes the session's ciphertext to the socket as far as it takes it; false on an error.
    bool flushOut(int* error);
    bool outPending() const;
    void updateWatch();
    // Bytes (or the end) the stream has not been told about wait in the session.
    bool leftOver() const;
    void notifyLater();

    plat::TcpSocket socket_;
    PeerSocketListener* listener_;
    std::shared_ptr<const plat::TlsContext> context_;
    std::unique_ptr<plat::TlsSession> session_;
    bool streamWantsWrite_ = false;
    bool handshakeFailed_ = false;
    bool ended_ = false;   // the peer closed, seen by a read of ours
    int pendingError_ = 0; // a socket error seen outside a call, reported by the next
    bool notifyPosted_ = false;
    // A read was served from the session alone during a receive notification, which then
    // leaves the socket's notification off: the posted notification reads on.
    bool socketUnread_ = false;
    // Lets a posted notification find out whether this socket still exists.
    std::shared_ptr<PeerSocket*> self_;
};

} // namespace tcp
