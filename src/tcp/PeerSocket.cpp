#include "tcp/PeerSocket.h"

#include "platform/Diag.h"
#include "platform/EventLoop.h"

#include <cerrno>

namespace tcp {

PeerSocket::PeerSocket(PeerSocketListener* listener)
    : socket_(this), listener_(listener), self_(std::make_shared<PeerSocket*>(this))
{
}

PeerSocket::~PeerSocket()
{
    *self_ = nullptr;
}

void PeerSocket::setTls(std::shared_ptr<const plat::TlsContext> context)
{
    context_ = std::move(context);
}

void PeerSocket::close()
{
    socket_.close();
    session_.reset();
    streamWantsWrite_ = false;
}

bool PeerSocket::accept(PeerSocket& into, int* error)
{
    if (!socket_.accept(into.socket_, error))
        return false;
    into.context_ = context_;
    if (into.context_)
        into.startTls(plat::TlsSession::Role::Server);
    return true;
}

plat::ConnectResult PeerSocket::connect(const std::string& host, int port, int* error)
{
    const plat::ConnectResult r = socket_.connect(host, port, error);
    if (r == plat::ConnectResult::Connected && context_)
        startTls(plat::TlsSession::Role::Client);
    return r;
}

long PeerSocket::receiveCiphertext(void* buffer, std::size_t length, int* error)
{
    return socket_.receive(buffer, length, error);
}

long PeerSocket::sendCiphertext(const void* data, std::size_t length, int* error)
{
    return socket_.send(data, length, error);
}

void PeerSocket::startTls(plat::TlsSession::Role role)
{
    plat::TlsLink* link = this;
    session_ = std::make_unique<plat::TlsSession>(context_, role, link);
    handshakeFailed_ = false;
    ended_ = false;
    pendingError_ = 0;
    socketUnread_ = false;
    // The client speaks first; the server waits for its hello.
    if (role == plat::TlsSession::Role::Client)
        driveHandshake();
}

void PeerSocket::driveHandshake()
{
    // The session reads the socket until it has run dry, so one pass takes all that arrived.
    session_->expectIncoming();
    const plat::TlsSession::Result r = session_->handshake();
    // A failed handshake sends nothing more, not even an alert: a peer that is not ours
    // learns nothing but the close.
    if (r != plat::TlsSession::Result::Ok && r != plat::TlsSession::Result::WantMore) {
        handshakeFailed(session_->failure());
        return;
    }
    int error = 0;
    if (!flushOut(&error)) {
        handshakeCut("write failed during the handshake");
        return;
    }
    if (r != plat::TlsSession::Result::Ok) {
        if (session_->linkEnded())
            handshakeCut("closed by the peer during the handshake");
        else if (session_->linkError() != 0)
            handshakeCut("read failed during the handshake");
        // Otherwise the socket would block, and the read armed its notification again.
        return;
    }
    updateWatch();
    PeerSocketListener* l = listener_;
    std::shared_ptr<PeerSocket*> alive = self_;
    // What the stream could not write so far can go now.
    if (streamWantsWrite_ && l)
        l->onSend(0);
    if (*alive && session_ && leftOver())
        notifyLater();
}

void PeerSocket::handshakeFailed(std::string reason)
{
    if (handshakeFailed_)
        return;
    handshakeFailed_ = true;
    // The listener reports it, no more than once a minute for one address.
    if (listener_)
        listener_->onHandshakeFailed(reason);
}

void PeerSocket::handshakeCut(std::string reason)
{
    if (session_)
        session_->noteClosedInHandshake();
    handshakeFailed(std::move(reason));
}

void PeerSocket::noteLinkState()
{
    if (session_->linkEnded())
        ended_ = true;
    else if (session_->linkError() != 0 && pendingError_ == 0)
        pendingError_ = session_->linkError();
}

bool PeerSocket::outPending() const
{
    return session_ && session_->outgoingPending() > 0;
}

bool PeerSocket::flushOut(int* error)
{
    if (!session_->flushOutgoing(error))
        return false;
    if (outPending())
        updateWatch();
    return true;
}

void PeerSocket::updateWatch()
{
    // During the handshake only the handshake's own bytes are waited for: a socket that can
    // always be written would otherwise report so without end while the peer says nothing.
    socket_.watchWrite((streamWantsWrite_ && (!session_ || secured())) ||
                       (session_ && outPending()));
}

bool PeerSocket::leftOver() const
{
    return session_->readable() || session_->hasIncoming() || ended_ || pendingError_ != 0;
}

void PeerSocket::notifyLater()
{
    if (notifyPosted_)
        return;
    notifyPosted_ = true;
    std::weak_ptr<PeerSocket*> weak = self_;
    plat::post([weak] {
        const auto alive = weak.lock();
        PeerSocket* self = alive ? *alive : nullptr;
        if (!self)
            return;
        self->notifyPosted_ = false;
        if (self->session_ && self->secured() && (self->leftOver() || self->socketUnread_) &&
            self->listener_)
            self->listener_->onReceive(0);
    });
}

long PeerSocket::receive(void* buffer, std::size_t length, int* error)
{
    if (!session_)
        return socket_.receive(buffer, length, error);
    if (!secured()) {
        *error = handshakeFailed_ ? ECONNRESET : EAGAIN;
        return -1;
    }
    socketUnread_ = false;
    session_->expectIncoming();
    const std::uint64_t readsBefore = session_->linkReads();
    // As much as the buffer takes and has arrived: a record holds at most 16 KiB, and one read
    // per record would cost the stream a turn of the event loop each.
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t total = 0;
    bool failed = false;
    while (total < length) {
        std::size_t count = 0;
        const plat::TlsSession::Result r = session_->read(bytes + total, length - total, &count);
        if (r == plat::TlsSession::Result::Ok) {
            total += count;
            continue;
        }
        if (r == plat::TlsSession::Result::Closed)
            ended_ = true;
        else if (r == plat::TlsSession::Result::Failed)
            failed = true;
        else
            // The socket has run dry (its last read armed the notification again), ended, or
            // failed.
            noteLinkState();
        break;
    }
    if (total > 0) {
        // A full buffer may have been served from the session alone; the socket's notification
        // then stays off, and a posted one reads on.
        if (total == length && session_->linkReads() == readsBefore)
            socketUnread_ = true;
        // A record still incomplete needs no notification: its rest arrives at the socket,
        // whose notification the last read armed.
        if (failed || session_->readable() || ended_ || pendingError_ != 0 || socketUnread_ ||
            (total == length && session_->hasIncoming()))
            notifyLater();
        return static_cast<long>(total);
    }
    if (failed) {
        plat::diag("PeerSocket: TLS record failed: %s\n", session_->failure().c_str());
        *error = EPROTO;
        return -1;
    }
    if (pendingError_ != 0) {
        *error = pendingError_;
        return -1;
    }
    if (ended_)
        return 0;
    *error = EAGAIN;
    return -1;
}

long PeerSocket::send(const void* data, std::size_t length, int* error)
{
    if (!session_)
        return socket_.send(data, length, error);
    if (pendingError_ != 0) {
        *error = pendingError_;
        return -1;
    }
    if (!secured()) {
        *error = handshakeFailed_ ? ECONNRESET : EAGAIN;
        return -1;
    }
    // New plaintext only once the records of the last are out, so at most one chunk waits.
    if (!flushOut(error))
        return -1;
    if (outPending()) {
        *error = EAGAIN;
        return -1;
    }
    const std::size_t take = length < kChunk ? length : kChunk;
    if (!session_->write(static_cast<const std::uint8_t*>(data), take)) {
        *error = EPROTO;
        return -1;
    }
    // The bytes are taken; a socket error shows at the next call.
    int e = 0;
    if (!flushOut(&e))
        pendingError_ = e;
    return static_cast<long>(take);
}

void PeerSocket::watchWrite(bool on)
{
    streamWantsWrite_ = on;
    if (session_)
        updateWatch();
    else
        socket_.watchWrite(on);
}

void PeerSocket::onAccept(int error)
{
    if (listener_)
        listener_->onAccept(error);
}

void PeerSocket::onConnect(int error)
{
    if (error == 0 && context_) {
        startTls(plat::TlsSession::Role::Client);
        if (handshakeFailed_)
            return;
    }
    if (listener_)
        listener_->onConnect(error);
}

void PeerSocket::onReceive(int error)
{
    if (error == 0 && session_ && !secured()) {
        if (!handshakeFailed_)
            driveHandshake();
        return;
    }
    if (listener_)
        listener_->onReceive(error);
}

void PeerSocket::onSend(int error)
{
    if (error == 0 && session_) {
        int e = 0;
        if (!flushOut(&e)) {
            if (!secured()) {
                handshakeCut("write failed during the handshake");
                return;
            }
            error = e;
        } else if (!secured() || outPending() || !streamWantsWrite_) {
            updateWatch();
            return;
        }
    }
    if (listener_)
        listener_->onSend(error);
}

void PeerSocket::onClose(int error)
{
    if (session_ && !secured()) {
        if (!handshakeFailed_)
            handshakeCut("closed by the peer during the handshake");
        return;
    }
    // Records still held are read first; the end then shows as a read of 0.
    if (session_ && session_->hasIncoming()) {
        ended_ = true;
        if (listener_)
            listener_->onReceive(0);
        return;
    }
    if (listener_)
        listener_->onClose(error);
}

} // namespace tcp
