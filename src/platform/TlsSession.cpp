#include "platform/TlsSession.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plat {

namespace {

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Drops the bytes before offset once they are at least half of the buffer, so a buffer that is
// never emptied completely does not grow without end.
void compact(std::vector<std::uint8_t>& bytes, std::size_t& offset)
{
    if (offset == 0 || offset * 2 < bytes.size())
        return;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    offset = 0;
}

} // namespace

// The session's own BIO, both ways: OpenSSL reads records straight from the link into its
// record buffer and writes each record straight from its buffer to the link. The bytes put in
// come first; what the link does not take is kept and reported as written, so a write never
// waits; an empty read asks to be retried, like an empty memory BIO.
struct TlsSession::Bio
{
    static TlsSession* of(BIO* b) { return static_cast<TlsSession*>(BIO_get_data(b)); }

    static int write(BIO* b, const char* data, std::size_t length, std::size_t* written)
    {
        BIO_clear_retry_flags(b);
        of(b)->bioWrite(data, length);
        *written = length;
        return 1;
    }

    static int read(BIO* b, char* buffer, std::size_t length, std::size_t* count)
    {
        BIO_clear_retry_flags(b);
        *count = 0;
        if (of(b)->bioRead(buffer, length, count))
            return 1;
        BIO_set_retry_read(b);
        return 0;
    }

    static long control(BIO* b, int command, long, void*)
    {
        const TlsSession* s = of(b);
        switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_PENDING:
            return static_cast<long>(s->incoming_.size() - s->incomingOffset_);
        case BIO_CTRL_WPENDING:
            return static_cast<long>(s->outgoingPending());
        case BIO_CTRL_EOF:
            return s->linkEnded_ ? 1 : 0;
        default:
            return 0;
        }
    }

    static int create(BIO* b)
    {
        BIO_set_init(b, 1);
        return 1;
    }

    static int destroy(BIO*) { return 1; }

    static BIO_METHOD* method()
    {
        static BIO_METHOD* const m = [] {
            BIO_METHOD* meth = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pavo tls");
            if (meth) {
                BIO_meth_set_write_ex(meth, write);
                BIO_meth_set_read_ex(meth, read);
                BIO_meth_set_ctrl(meth, control);
                BIO_meth_set_create(meth, create);
                BIO_meth_set_destroy(meth, destroy);
            }
            return meth;
        }();
        return m;
    }
};

TlsSession::TlsSession(std::shared_ptr<const TlsContext> context, Role role, TlsLink* link)
    : context_(std::move(context)), link_(link)
{
    ssl_ = context_ ? SSL_new(context_->context()) : nullptr;
    BIO* bio = Bio::method() ? BIO_new(Bio::method()) : nullptr;
    if (!ssl_ || !bio) {
        BIO_free(bio);
        if (ssl_)
            SSL_free(ssl_);
        ssl_ = nullptr;
        failed_ = true;
        failure_ = "TLS set-up failed";
        return;
    }
    BIO_set_data(bio, this);
    // One BIO both ways; the connection owns it.
    SSL_set_bio(ssl_, bio, bio);
    // A read takes whatever has arrived up to the record buffer's size (about one record), so
    // a record normally costs one receive from the socket rather than one for its header and
    // one for its body.
    SSL_set_read_ahead(ssl_, 1);
    if (role == Role::Client)
        SSL_set_connect_state(ssl_);
    else
        SSL_set_accept_state(ssl_);
}

TlsSession::~TlsSession()
{
    if (ssl_)
        SSL_free(ssl_);
}

void TlsSession::putIncoming(const std::uint8_t* data, std::size_t length)
{
    if (!ssl_ || length == 0)
        return;
    compact(incoming_, incomingOffset_);
    incoming_.insert(incoming_.end(), data, data + length);
}

bool TlsSession::hasIncoming() const
{
    return incomingOffset_ < incoming_.size() || (ssl_ && SSL_has_pending(ssl_) == 1);
}

bool TlsSession::bioRead(char* buffer, std::size_t length, std::size_t* count)
{
    if (incomingOffset_ < incoming_.size()) {
        const std::size_t n = std::min(length, incoming_.size() - incomingOffset_);
        std::memcpy(buffer, incoming_.data() + incomingOffset_, n);
        incomingOffset_ += n;
        *count = n;
        return true;
    }
    if (!link_ || linkEnded_ || linkError_ != 0 || length == 0)
        return false;
    ++linkReads_;
    int error = 0;
    const long n = link_->receiveCiphertext(buffer, length, &error);
    if (n > 0) {
        *count = static_cast<std::size_t>(n);
        return true;
    }
    if (n == 0)
        linkEnded_ = true;
    else if (!wouldBlock(error))
        linkError_ = error;
    return false;
}

void TlsSession::bioWrite(const char* data, std::size_t length)
{
    // A link that failed takes nothing more: the connection is lost.
    if (sendError_ != 0)
        return;
    if (link_ && outgoingPending() == 0) {
        int error = 0;
        const long n = link_->sendCiphertext(data, length, more_, &error);
        if (n > 0) {
            data += n;
            length -= static_cast<std::size_t>(n);
        } else if (!wouldBlock(error)) {
            sendError_ = error;
            return;
        }
    }
    if (length == 0)
        return;
    compact(outgoing_, outgoingOffset_);
    outgoing_.insert(outgoing_.end(), data, data + length);
}

TlsSession::Result TlsSession::fail()
{
    if (!failed_) {
        failed_ = true;
        failure_ = takeTlsError();
        if (failure_.empty())
            failure_ = "TLS failure";
    }
    ERR_clear_error();
    return Result::Failed;
}

TlsSession::Result TlsSession::handshake()
{
    if (failed_)
        return Result::Failed;
    if (established_)
        return Result::Ok;
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_);
    if (rc == 1) {
        established_ = true;
        return Result::Ok;
    }
    switch (SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return Result::WantMore;
    case SSL_ERROR_ZERO_RETURN:
        return Result::Closed;
    default:
        return fail();
    }
}

TlsSession::Result TlsSession::read(std::uint8_t* buffer, std::size_t length, std::size_t* count)
{
    *count = 0;
    if (failed_)
        return Result::Failed;
    if (!established_) {
        const Result r = handshake();
        if (r != Result::Ok)
            return r;
    }
    if (length == 0)
        return Result::WantMore;
    ERR_clear_error();
    std::size_t n = 0;
    const int rc = SSL_read_ex(ssl_, buffer, length, &n);
    if (rc == 1) {
        *count = n;
        return Result::Ok;
    }
    switch (SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return Result::WantMore;
    case SSL_ERROR_ZERO_RETURN:
        return Result::Closed;
    default:
        return fail();
    }
}

bool TlsSession::readable() const
{
    return ssl_ && !failed_ && SSL_pending(ssl_) > 0;
}

bool TlsSession::write(const std::uint8_t* data, std::size_t length)
{
    if (failed_ || !established_)
        return false;
    // One record per call, so the link knows which records have another right behind them.
    while (length > 0) {
        const std::size_t piece = std::min(length, kMaxRecord);
        more_ = piece < length;
        ERR_clear_error();
        std::size_t n = 0;
        const int rc = SSL_write_ex(ssl_, data, piece, &n);
        more_ = false;
        if (rc != 1) {
            fail();
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

std::size_t TlsSession::outgoingPending() const
{
    return outgoing_.size() - outgoingOffset_;
}

std::size_t TlsSession::takeOutgoing(std::uint8_t* buffer, std::size_t length)
{
    const std::size_t n = std::min(length, outgoingPending());
    if (n > 0)
        std::memcpy(buffer, outgoing_.data() + outgoingOffset_, n);
    outgoingOffset_ += n;
    return n;
}

bool TlsSession::flushOutgoing(int* error)
{
    if (sendError_ != 0) {
        *error = sendError_;
        return false;
    }
    while (link_ && outgoingPending() > 0) {
        int e = 0;
        const long n =
            link_->sendCiphertext(outgoing_.data() + outgoingOffset_, outgoingPending(), false, &e);
        if (n > 0) {
            outgoingOffset_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && !wouldBlock(e)) {
            sendError_ = e;
            *error = e;
            return false;
        }
        break;
    }
    return true;
}

} // namespace plat
