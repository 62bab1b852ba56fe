#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_session_st SSL_SESSION;

// The TLS set-up shared by every connection of a node that has a party key: TLS 1.3 only, one
// cipher suite (TLS_AES_128_GCM_SHA256), authenticated by the party key as an external
// pre-shared key in the mode that adds an (EC)DHE exchange, so traffic recorded today stays
// secret if the passphrase leaks later. No certificates, no session tickets, no resumption.
namespace plat {

class TlsContext
{
public:
    static constexpr std::size_t kKeySize = 32;
    using Key = std::array<std::uint8_t, kKeySize>;

    // nullptr when OpenSSL refuses the set-up; *error then says why.
    static std::shared_ptr<TlsContext> create(const Key& key, std::string* error = nullptr);

    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    SSL_CTX* context() const { return ctx_; }
    // The session that carries the key; the caller takes a reference of its own.
    SSL_SESSION* pskSession() const { return session_; }

private:
    TlsContext() = default;

    SSL_CTX* ctx_ = nullptr;
    SSL_SESSION* session_ = nullptr;
};

// The text of OpenSSL's oldest queued error (empty when none), which is taken off the queue
// together with every later one.
std::string takeTlsError();

} // namespace plat
