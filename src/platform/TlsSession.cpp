#include "platform/TlsSession.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <climits>

namespace plat {

namespace {

int clampInt(std::size_t n)
{
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

} // namespace

TlsSession::TlsSession(std::shared_ptr<const TlsContext> context, Role role)
    : context_(std::move(context))
{
    ssl_ = context_ ? SSL_new(context_->context()) : nullptr;
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        BIO_free(in_);
        BIO_free(out_);
        in_ = out_ = nullptr;
        failed_ = true;
        failure_ = "TLS set-up failed";
        return;
    }
    // An empty memory BIO reports "retry" rather than end of file.
    BIO_set_mem_eof_return(in_, -1);
    BIO_set_mem_eof_return(out_, -1);
    SSL_set_bio(ssl_, in_, out_);
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
    while (in_ && length > 0) {
        const int n = BIO_write(in_, data, clampInt(length));
        if (n <= 0)
            return;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
}

std::size_t TlsSession::incomingPending() const
{
    return in_ ? BIO_ctrl_pending(in_) : 0;
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
    while (length > 0) {
        ERR_clear_error();
        std::size_t n = 0;
        // A memory BIO takes everything, so a write never waits.
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
    return out_ ? BIO_ctrl_pending(out_) : 0;
}

std::size_t TlsSession::takeOutgoing(std::uint8_t* buffer, std::size_t length)
{
    if (!out_ || length == 0)
        return 0;
    const int n = BIO_read(out_, buffer, clampInt(length));
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

} // namespace plat
