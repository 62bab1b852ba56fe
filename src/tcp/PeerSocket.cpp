#include "tcp/PeerSocket.h"

#include "platform/Diag.h"
#include "platform/EventLoop.h"

#include <cerrno>

namespace tcp {

namespace {

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

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
    in_.reset();
    out_.reset();
    outOffset_ = outLength_ = 0;
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

void PeerSocket::startTls(plat::TlsSession::Role role)
{
    session_ = std::make_unique<plat::TlsSession>(context_, role);
    in_.reset(new std::uint8_t[kChunk]);
    // Room for a chunk of plaintext as records: 16 KiB each plus header and tag.
    out_.reset(new std::uint8_t[kChunk + 1024]);
    outOffset_ = outLength_ = 0;
    handshakeFailed_ = false;
    ended_ = false;
    pendingError_ = 0;
    // The client speaks first; the server waits for its hello.
    if (role == plat::TlsSession::Role::Client)
        driveHandshake();
}

void PeerSocket::driveHandshake()
{
    for (;;) {
        const plat::TlsSession::Result r = session_->handshake();
        // A failed handshake sends nothing more, not even an alert: a peer that is not ours
        // learns nothing but the close.
        if (r != plat::TlsSession::Result::Ok && r != plat::TlsSession::Result::WantMore) {
            handshakeFailed(session_->failure());
            return;
        }
        int error = 0;
        if (!flushOut(&error)) {
            handshakeFailed("write failed during the handshake");
            return;
        }
        if (r == plat::TlsSession::Result::Ok)
            break;
        const long n = fill(&error);
        if (n > 0)
            continue;
        if (n < 0 && wouldBlock(error))
            return;
        handshakeFailed(n == 0 ? "closed by the peer during the handshake"
                               : "read failed during the handshake");
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

long PeerSocket::fill(int* error)
{
    if (ended_)
        return 0;
    const long n = socket_.receive(in_.get(), kChunk, error);
    if (n > 0)
        session_->putIncoming(in_.get(), static_cast<std::size_t>(n));
    else if (n == 0)
        ended_ = true;
    return n;
}

bool PeerSocket::outPending() const
{
    return outOffset_ < outLength_ || (session_ && session_->outgoingPending() > 0);
}

bool PeerSocket::flushOut(int* error)
{
    for (;;) {
        if (outOffset_ == outLength_) {
            outOffset_ = 0;
            outLength_ = session_->takeOutgoing(out_.get(), kChunk + 1024);
            if (outLength_ == 0)
                return true;
        }
        const long n = socket_.send(out_.get() + outOffset_, outLength_ - outOffset_, error);
        if (n > 0) {
            outOffset_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || wouldBlock(*error)) {
            updateWatch();
            return true;
        }
        return false;
    }
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
    return session_->readable() || session_->incomingPending() > 0 || ended_ || pendingError_ != 0;
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
        if (self->session_ && self->secured() && self->leftOver() && self->listener_)
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
        if (r == plat::TlsSession::Result::Closed) {
            ended_ = true;
            break;
        }
        if (r == plat::TlsSession::Result::Failed) {
            failed = true;
            break;
        }
        if (pendingError_ != 0 || ended_)
            break;
        int e = 0;
        const long n = fill(&e);
        if (n > 0)
            continue;
        // Would block (the read re-armed the socket's notification), the end, or an error.
        if (n < 0 && !wouldBlock(e))
            pendingError_ = e;
        break;
    }
    if (total > 0) {
        // A full buffer may leave the socket unread: read it now, so its notification is armed
        // again or the bytes wait here and a notification follows.
        if (total == length && !leftOver()) {
            int e = 0;
            if (fill(&e) < 0 && !wouldBlock(e))
                pendingError_ = e;
        }
        // A record still incomplete needs no notification: its rest arrives at the socket,
        // whose notification the last read armed.
        if (failed || session_->readable() || ended_ || pendingError_ != 0 ||
            (total == length && session_->incomingPending() > 0))
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
                handshakeFailed("write failed during the handshake");
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
            handshakeFailed("closed by the peer during the handshake");
        return;
    }
    // Records still held are read first; the end then shows as a read of 0.
    if (session_ && (session_->readable() || session_->incomingPending() > 0)) {
        ended_ = true;
        if (listener_)
            listener_->onReceive(0);
        return;
    }
    if (listener_)
        listener_->onClose(error);
}

} // namespace tcp
