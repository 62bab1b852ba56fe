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

// A client that offers the party key must never settle for a certificate: a server that
// ignores the key (anyone who receives the dial) would otherwise be trusted with everything.
int refuseCertificate(int, X509_STORE_CTX*)
{
    return 0;
}

// What OpenSSL's error says about the peer.
TlsSession::Refusal classify(unsigned long code)
{
    using R = TlsSession::Refusal;
    if (ERR_GET_LIB(code) != ERR_LIB_SSL)
        return R::Other;
    switch (ERR_GET_REASON(code)) {
    case SSL_R_CERTIFICATE_VERIFY_FAILED:
        return R::Certificate;
    case SSL_R_BINDER_DOES_NOT_VERIFY:
    case SSL_R_TLSV1_ALERT_DECRYPT_ERROR:
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
        return R::OtherKey;
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
    case SSL_R_MISSING_PSK_KEX_MODES_EXTENSION:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_TLSV13_ALERT_MISSING_EXTENSION:
    case SSL_R_NO_CERTIFICATE_SET:
        return R::NoKey;
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_UNEXPECTED_MESSAGE:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_LENGTH_MISMATCH:
    case SSL_R_BAD_PACKET_LENGTH:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_BAD_RECORD_TYPE:
    case SSL_R_LENGTH_TOO_SHORT:
    case SSL_R_BAD_EXTENSION:
    case SSL_R_BAD_PACKET:
        return R::NotTls;
    default:
        return R::Other;
    }
}

} // namespace

// The session's own BIO, both ways: reads come from the bytes received (put in, or read from the
// link in large blocks), writes are kept until taken or flushed, so a write never waits; an empty
// read asks to be retried, like an empty memory BIO.
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
            return static_cast<long>(s->incomingEnd_ - s->incomingBegin_);
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
    // With read-ahead, a record buffer as large as one receive from the link lets the session
    // read the socket straight into it instead of through a buffer of its own.
    SSL_set_default_read_buffer_len(ssl_, kLinkRead);
    if (role == Role::Client) {
        SSL_set_verify(ssl_, SSL_VERIFY_PEER, refuseCertificate);
        SSL_set_connect_state(ssl_);
    } else
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
    if (incomingBegin_ > 0) {
        std::memmove(incoming_.data(), incoming_.data() + incomingBegin_,
                     incomingEnd_ - incomingBegin_);
        incomingEnd_ -= incomingBegin_;
        incomingBegin_ = 0;
    }
    if (incoming_.size() < incomingEnd_ + length)
        incoming_.resize(incomingEnd_ + length);
    std::memcpy(incoming_.data() + incomingEnd_, data, length);
    incomingEnd_ += length;
}

bool TlsSession::hasIncoming() const
{
    return incomingBegin_ < incomingEnd_ || (ssl_ && SSL_has_pending(ssl_) == 1);
}

long TlsSession::receiveFromLink(std::uint8_t* into, std::size_t length)
{
    ++linkReads_;
    int error = 0;
    const long n = link_->receiveCiphertext(into, length, &error);
    if (n <= 0) {
        linkDry_ = true;
        if (n == 0)
            linkEnded_ = true;
        else if (!wouldBlock(error))
            linkError_ = error;
        return 0;
    }
    // A short read has taken all there was: the next one would only say so again.
    linkDry_ = static_cast<std::size_t>(n) < length;
    return n;
}

bool TlsSession::bioRead(char* buffer, std::size_t length, std::size_t* count)
{
    if (incomingBegin_ == incomingEnd_) {
        incomingBegin_ = incomingEnd_ = 0;
        if (!link_ || linkDry_ || linkEnded_ || linkError_ != 0)
            return false;
        // OpenSSL's record buffer takes a whole receive: read into it directly.
        if (length >= kDirectRead) {
            const long n = receiveFromLink(reinterpret_cast<std::uint8_t*>(buffer), length);
            *count = static_cast<std::size_t>(n);
            return n > 0;
        }
        if (incoming_.size() < kLinkRead)
            incoming_.resize(kLinkRead);
        incomingEnd_ = static_cast<std::size_t>(receiveFromLink(incoming_.data(), kLinkRead));
        if (incomingEnd_ == 0)
            return false;
    }
    const std::size_t n = std::min(length, incomingEnd_ - incomingBegin_);
    std::memcpy(buffer, incoming_.data() + incomingBegin_, n);
    incomingBegin_ += n;
    *count = n;
    return true;
}

void TlsSession::bioWrite(const char* data, std::size_t length)
{
    // What has been taken goes once it is all or half of what is held.
    if (outgoingOffset_ > 0 && outgoingOffset_ * 2 >= outgoing_.size()) {
        outgoing_.erase(outgoing_.begin(),
                        outgoing_.begin() + static_cast<std::ptrdiff_t>(outgoingOffset_));
        outgoingOffset_ = 0;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    outgoing_.insert(outgoing_.end(), bytes, bytes + length);
}

TlsSession::Result TlsSession::fail()
{
    if (!failed_) {
        failed_ = true;
        const unsigned long code = ERR_peek_error();
        failure_ = takeTlsError();
        if (failure_.empty())
            failure_ = "TLS failure";
        if (!established_)
            refusal_ = classify(code);
    }
    ERR_clear_error();
    return Result::Failed;
}

TlsSession::Result TlsSession::refuse(Refusal refusal, std::string failure)
{
    if (!failed_) {
        failed_ = true;
        refusal_ = refusal;
        failure_ = std::move(failure);
    }
    ERR_clear_error();
    return Result::Failed;
}

void TlsSession::noteClosedInHandshake()
{
    if (!established_ && refusal_ == Refusal::None)
        refusal_ = Refusal::Closed;
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
        // In TLS 1.3 an external key counts as a resumed session; nothing else authenticates
        // the peer here (the refused certificate is the other way, and no side has one).
        if (SSL_session_reused(ssl_) != 1)
            return refuse(Refusal::NoKey, "the handshake completed without the party key");
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
    ERR_clear_error();
    while (length > 0) {
        std::size_t n = 0;
        // The BIO takes everything, so a write never waits.
        if (SSL_write_ex(ssl_, data, length, &n) != 1) {
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
            link_->sendCiphertext(outgoing_.data() + outgoingOffset_, outgoingPending(), &e);
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
