#include "platform/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstring>

namespace plat {

namespace {

// The identity the client names its key by. It travels in clear, so it says nothing about the
// party; both sides only ever know one key.
constexpr unsigned char kIdentity[] = {'p', 'a', 'v', 'o'};

// TLS_AES_128_GCM_SHA256: its hash (SHA-256) fits the 32-byte key.
constexpr unsigned char kCipherId[] = {0x13, 0x01};

const TlsContext* owner(SSL* ssl)
{
    return static_cast<const TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
}

int useSession(SSL* ssl, const EVP_MD* md, const unsigned char** id, std::size_t* idLength,
               SSL_SESSION** session)
{
    const TlsContext* ctx = owner(ssl);
    SSL_SESSION* s = ctx ? ctx->pskSession() : nullptr;
    // After a hello retry the hash is fixed; the key only goes with SHA-256.
    if (!s || (md && md != SSL_CIPHER_get_handshake_digest(SSL_SESSION_get0_cipher(s)))) {
        *session = nullptr;
        *id = nullptr;
        *idLength = 0;
        return 1;
    }
    SSL_SESSION_up_ref(s);
    *session = s;
    *id = kIdentity;
    *idLength = sizeof kIdentity;
    return 1;
}

int findSession(SSL* ssl, const unsigned char* identity, std::size_t identityLength,
                SSL_SESSION** session)
{
    *session = nullptr;
    const TlsContext* ctx = owner(ssl);
    if (!ctx || identityLength != sizeof kIdentity ||
        std::memcmp(identity, kIdentity, sizeof kIdentity) != 0)
        return 1; // unknown identity: no key, and without a certificate the handshake fails
    SSL_SESSION_up_ref(ctx->pskSession());
    *session = ctx->pskSession();
    return 1;
}

} // namespace

std::string takeTlsError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::shared_ptr<TlsContext> TlsContext::create(const Key& key, std::string* error)
{
    ERR_clear_error();
    std::shared_ptr<TlsContext> self(new TlsContext);
    auto fail = [&](const char* step) -> std::shared_ptr<TlsContext> {
        if (error)
            *error = std::string(step) + ": " + takeTlsError();
        return nullptr;
    };
    self->ctx_ = SSL_CTX_new(TLS_method());
    if (!self->ctx_)
        return fail("SSL_CTX_new");
    SSL_CTX* c = self->ctx_;
    if (SSL_CTX_set_min_proto_version(c, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(c, TLS1_3_VERSION) != 1)
        return fail("protocol version");
    if (SSL_CTX_set_ciphersuites(c, "TLS_AES_128_GCM_SHA256") != 1)
        return fail("cipher suite");
    // psk_ke (a key exchange without (EC)DHE) stays off: OpenSSL offers and accepts only
    // psk_dhe_ke unless SSL_OP_ALLOW_NO_DHE_KEX is set.
    SSL_CTX_clear_options(c, SSL_OP_ALLOW_NO_DHE_KEX);
    SSL_CTX_set_options(c, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(c, 0);
    SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_app_data(c, self.get());
    SSL_CTX_set_psk_use_session_callback(c, useSession);
    SSL_CTX_set_psk_find_session_callback(c, findSession);

    // The cipher can only be looked up through a connection object.
    SSL* probe = SSL_new(c);
    if (!probe)
        return fail("SSL_new");
    const SSL_CIPHER* cipher = SSL_CIPHER_find(probe, kCipherId);
    SSL_free(probe);
    if (!cipher)
        return fail("cipher lookup");
    self->session_ = SSL_SESSION_new();
    if (!self->session_ ||
        SSL_SESSION_set1_master_key(self->session_, key.data(), key.size()) != 1 ||
        SSL_SESSION_set_cipher(self->session_, cipher) != 1 ||
        SSL_SESSION_set_protocol_version(self->session_, TLS1_3_VERSION) != 1)
        return fail("key session");
    return self;
}

TlsContext::~TlsContext()
{
    if (session_)
        SSL_SESSION_free(session_);
    if (ctx_)
        SSL_CTX_free(ctx_);
}

} // namespace plat
