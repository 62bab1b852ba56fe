#include "platform/GcmProvider.h"

#include <intel-ipsec-mb.h>
#include <openssl/core_dispatch.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <new>

namespace plat {

namespace {

constexpr const char* kProviderName = "pavo-gcm";
constexpr std::size_t kKeyLength = 16;
constexpr std::size_t kIvLength = 12;
constexpr std::size_t kTagLength = 16;
// TLS authenticates a 5-byte record header; anything much longer is not what this cipher is for.
constexpr std::size_t kMaxAad = 64;

std::atomic<std::uint64_t> g_bytes{0};

// The library's function table, chosen once for this processor; its GCM functions keep no state
// in it, so every thread may call them.
IMB_MGR* manager()
{
    static IMB_MGR* const mgr = [] {
        IMB_MGR* m = alloc_mb_mgr(0);
        if (!m)
            return m;
        IMB_ARCH arch = IMB_ARCH_NONE;
        init_mb_mgr_auto(m, &arch);
        if (arch != IMB_ARCH_AVX512 || imb_get_errno(m) != 0) {
            free_mb_mgr(m);
            return static_cast<IMB_MGR*>(nullptr);
        }
        return m;
    }();
    return mgr;
}

// One cipher context: the expanded key, the message's nonce and authenticated data, and the
// running GCM state once the first data byte has gone through.
struct Gcm
{
    gcm_key_data key;
    gcm_context_data state;
    bool encrypt = true;
    bool keySet = false;
    bool ivSet = false;
    bool started = false;
    bool tagSet = false;
    bool tagReady = false;
    std::uint8_t iv[kIvLength];
    std::uint8_t aad[kMaxAad];
    std::size_t aadLength = 0;
    std::uint8_t tag[kTagLength];
    std::size_t tagLength = kTagLength;

    ~Gcm() { OPENSSL_cleanse(static_cast<void*>(this), sizeof *this); }

    void newMessage()
    {
        started = false;
        tagSet = false;
        tagReady = false;
        aadLength = 0;
    }

    void start()
    {
        IMB_AES128_GCM_INIT(manager(), &key, &state, iv, aad, aadLength);
        started = true;
    }
};

Gcm* of(void* ctx)
{
    return static_cast<Gcm*>(ctx);
}

void* newContext(void*)
{
    return new (std::nothrow) Gcm;
}

void freeContext(void* ctx)
{
    delete of(ctx);
}

void* duplicateContext(void* ctx)
{
    return new (std::nothrow) Gcm(*of(ctx));
}

int setContextParams(void* ctx, const OSSL_PARAM params[]);

int init(void* ctx, bool encrypt, const unsigned char* key, std::size_t keyLength,
         const unsigned char* iv, std::size_t ivLength, const OSSL_PARAM params[])
{
    Gcm* g = of(ctx);
    g->encrypt = encrypt;
    if (key) {
        if (keyLength != kKeyLength)
            return 0;
        IMB_AES128_GCM_PRE(manager(), key, &g->key);
        g->keySet = true;
    }
    if (iv) {
        if (ivLength != kIvLength)
            return 0;
        std::memcpy(g->iv, iv, kIvLength);
        g->ivSet = true;
        g->newMessage();
    }
    return setContextParams(ctx, params);
}

int encryptInit(void* ctx, const unsigned char* key, std::size_t keyLength, const unsigned char* iv,
                std::size_t ivLength, const OSSL_PARAM params[])
{
    return init(ctx, true, key, keyLength, iv, ivLength, params);
}

int decryptInit(void* ctx, const unsigned char* key, std::size_t keyLength, const unsigned char* iv,
                std::size_t ivLength, const OSSL_PARAM params[])
{
    return init(ctx, false, key, keyLength, iv, ivLength, params);
}

// Without an output, the input is authenticated data; it must all come before the first byte to
// encrypt or decrypt.
int update(void* ctx, unsigned char* out, std::size_t* outLength, std::size_t outSize,
           const unsigned char* in, std::size_t inLength)
{
    Gcm* g = of(ctx);
    *outLength = 0;
    if (!g->keySet || !g->ivSet)
        return 0;
    if (!out) {
        if (g->started || inLength > kMaxAad - g->aadLength)
            return 0;
        if (inLength > 0)
            std::memcpy(g->aad + g->aadLength, in, inLength);
        g->aadLength += inLength;
        return 1;
    }
    if (outSize < inLength)
        return 0;
    if (!g->started)
        g->start();
    if (inLength > 0) {
        if (g->encrypt)
            IMB_AES128_GCM_ENC_UPDATE(manager(), &g->key, &g->state, out, in, inLength);
        else
            IMB_AES128_GCM_DEC_UPDATE(manager(), &g->key, &g->state, out, in, inLength);
        g_bytes.fetch_add(inLength, std::memory_order_relaxed);
    }
    *outLength = inLength;
    return 1;
}

// Ends the message: an encryption's tag can then be read; a decryption's tag must have been set
// and must match, or the message is refused. Either way the next message needs a fresh nonce.
int final(void* ctx, unsigned char*, std::size_t* outLength, std::size_t)
{
    Gcm* g = of(ctx);
    *outLength = 0;
    if (!g->keySet || !g->ivSet)
        return 0;
    if (!g->started)
        g->start();
    g->ivSet = false;
    if (g->encrypt) {
        IMB_AES128_GCM_ENC_FINALIZE(manager(), &g->key, &g->state, g->tag, kTagLength);
        g->tagReady = true;
        return 1;
    }
    if (!g->tagSet)
        return 0;
    std::uint8_t computed[kTagLength];
    IMB_AES128_GCM_DEC_FINALIZE(manager(), &g->key, &g->state, computed, g->tagLength);
    const bool match = CRYPTO_memcmp(computed, g->tag, g->tagLength) == 0;
    OPENSSL_cleanse(computed, sizeof computed);
    return match ? 1 : 0;
}

// EVP_Cipher's one call for all: without input it ends the message, as OpenSSL's own GCM does.
int cipher(void* ctx, unsigned char* out, std::size_t* outLength, std::size_t outSize,
           const unsigned char* in, std::size_t inLength)
{
    if (!in)
        return final(ctx, out, outLength, outSize);
    return update(ctx, out, outLength, outSize, in, inLength);
}

struct SizeParam
{
    const char* name;
    std::size_t value;
};

// Answers each of the sizes the caller asked for; false when one could not be given.
bool setSizes(OSSL_PARAM params[], std::initializer_list<SizeParam> sizes)
{
    for (const SizeParam& s : sizes) {
        OSSL_PARAM* p = OSSL_PARAM_locate(params, s.name);
        if (p && !OSSL_PARAM_set_size_t(p, s.value))
            return false;
    }
    return true;
}

int getParams(OSSL_PARAM params[])
{
    OSSL_PARAM* p = nullptr;
    if ((p = OSSL_PARAM_locate(params, OSSL_CIPHER_PARAM_MODE)) &&
        !OSSL_PARAM_set_uint(p, EVP_CIPH_GCM_MODE))
        return 0;
    if (!setSizes(params, {{OSSL_CIPHER_PARAM_KEYLEN, kKeyLength},
                           {OSSL_CIPHER_PARAM_IVLEN, kIvLength},
                           {OSSL_CIPHER_PARAM_BLOCK_SIZE, 1}}))
        return 0;
    const struct
    {
        const char* name;
        int value;
    } flags[] = {
        {OSSL_CIPHER_PARAM_AEAD, 1},         {OSSL_CIPHER_PARAM_CUSTOM_IV, 1},
        {OSSL_CIPHER_PARAM_CTS, 0},          {OSSL_CIPHER_PARAM_TLS1_MULTIBLOCK, 0},
        {OSSL_CIPHER_PARAM_HAS_RAND_KEY, 0},
    };
    for (const auto& f : flags)
        if ((p = OSSL_PARAM_locate(params, f.name)) && !OSSL_PARAM_set_int(p, f.value))
            return 0;
    return 1;
}

const OSSL_PARAM* gettableParams(void*)
{
    static const OSSL_PARAM table[] = {
        OSSL_PARAM_uint(OSSL_CIPHER_PARAM_MODE, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_KEYLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_IVLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_BLOCK_SIZE, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_AEAD, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_CUSTOM_IV, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_CTS, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_TLS1_MULTIBLOCK, nullptr),
        OSSL_PARAM_int(OSSL_CIPHER_PARAM_HAS_RAND_KEY, nullptr),
        OSSL_PARAM_END,
    };
    return table;
}

int getContextParams(void* ctx, OSSL_PARAM params[])
{
    Gcm* g = of(ctx);
    if (!setSizes(params, {{OSSL_CIPHER_PARAM_KEYLEN, kKeyLength},
                           {OSSL_CIPHER_PARAM_IVLEN, kIvLength},
                           {OSSL_CIPHER_PARAM_AEAD_TAGLEN, kTagLength}}))
        return 0;
    if (OSSL_PARAM* p = OSSL_PARAM_locate(params, OSSL_CIPHER_PARAM_AEAD_TAG)) {
        // Only an encryption that has ended has a tag, and only up to its full length.
        if (!g->encrypt || !g->tagReady || p->data_type != OSSL_PARAM_OCTET_STRING ||
            p->data_size == 0 || p->data_size > kTagLength)
            return 0;
        if (!OSSL_PARAM_set_octet_string(p, g->tag, p->data_size))
            return 0;
    }
    return 1;
}

const OSSL_PARAM* gettableContextParams(void*, void*)
{
    static const OSSL_PARAM table[] = {
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_KEYLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_IVLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_AEAD_TAGLEN, nullptr),
        OSSL_PARAM_octet_string(OSSL_CIPHER_PARAM_AEAD_TAG, nullptr, 0),
        OSSL_PARAM_END,
    };
    return table;
}

int setContextParams(void* ctx, const OSSL_PARAM params[])
{
    Gcm* g = of(ctx);
    const OSSL_PARAM* p = nullptr;
    std::size_t size = 0;
    if ((p = OSSL_PARAM_locate_const(params, OSSL_CIPHER_PARAM_IVLEN)) &&
        (!OSSL_PARAM_get_size_t(p, &size) || size != kIvLength))
        return 0;
    if ((p = OSSL_PARAM_locate_const(params, OSSL_CIPHER_PARAM_KEYLEN)) &&
        (!OSSL_PARAM_get_size_t(p, &size) || size != kKeyLength))
        return 0;
    if ((p = OSSL_PARAM_locate_const(params, OSSL_CIPHER_PARAM_AEAD_TAG))) {
        // The tag a decryption must match; a shortened one is accepted down to 12 bytes, as GCM
        // in TLS and OpenSSL's own allow, never below.
        if (g->encrypt || p->data_type != OSSL_PARAM_OCTET_STRING || p->data_size < 12 ||
            p->data_size > kTagLength || !p->data)
            return 0;
        std::memcpy(g->tag, p->data, p->data_size);
        g->tagLength = p->data_size;
        g->tagSet = true;
    }
    return 1;
}

const OSSL_PARAM* settableContextParams(void*, void*)
{
    static const OSSL_PARAM table[] = {
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_IVLEN, nullptr),
        OSSL_PARAM_size_t(OSSL_CIPHER_PARAM_KEYLEN, nullptr),
        OSSL_PARAM_octet_string(OSSL_CIPHER_PARAM_AEAD_TAG, nullptr, 0),
        OSSL_PARAM_END,
    };
    return table;
}

template <typename F> OSSL_DISPATCH entry(int id, F* function)
{
    return {id, reinterpret_cast<void (*)(void)>(function)};
}

const OSSL_DISPATCH* cipherFunctions()
{
    static const OSSL_DISPATCH table[] = {
        entry(OSSL_FUNC_CIPHER_NEWCTX, newContext),
        entry(OSSL_FUNC_CIPHER_FREECTX, freeContext),
        entry(OSSL_FUNC_CIPHER_DUPCTX, duplicateContext),
        entry(OSSL_FUNC_CIPHER_ENCRYPT_INIT, encryptInit),
        entry(OSSL_FUNC_CIPHER_DECRYPT_INIT, decryptInit),
        entry(OSSL_FUNC_CIPHER_UPDATE, update),
        entry(OSSL_FUNC_CIPHER_FINAL, final),
        entry(OSSL_FUNC_CIPHER_CIPHER, cipher),
        entry(OSSL_FUNC_CIPHER_GET_PARAMS, getParams),
        entry(OSSL_FUNC_CIPHER_GETTABLE_PARAMS, gettableParams),
        entry(OSSL_FUNC_CIPHER_GET_CTX_PARAMS, getContextParams),
        entry(OSSL_FUNC_CIPHER_GETTABLE_CTX_PARAMS, gettableContextParams),
        entry(OSSL_FUNC_CIPHER_SET_CTX_PARAMS, setContextParams),
        entry(OSSL_FUNC_CIPHER_SETTABLE_CTX_PARAMS, settableContextParams),
        {0, nullptr},
    };
    return table;
}

const OSSL_ALGORITHM* queryOperation(void*, int operation, int* noCache)
{
    *noCache = 0;
    // The names are OpenSSL's own for AES-128-GCM, so a fetch by any of them finds this one.
    static const OSSL_ALGORITHM ciphers[] = {
        {"AES-128-GCM:id-aes128-GCM:2.16.840.1.101.3.4.1.6", "provider=pavo-gcm", cipherFunctions(),
         "AES-128-GCM by Intel's multi-buffer crypto library"},
        {nullptr, nullptr, nullptr, nullptr},
    };
    return operation == OSSL_OP_CIPHER ? ciphers : nullptr;
}

int providerInit(const OSSL_CORE_HANDLE*, const OSSL_DISPATCH*, const OSSL_DISPATCH** out,
                 void** providerContext)
{
    static const OSSL_DISPATCH table[] = {
        entry(OSSL_FUNC_PROVIDER_QUERY_OPERATION, queryOperation),
        {0, nullptr},
    };
    *out = table;
    *providerContext = nullptr;
    return 1;
}

OSSL_LIB_CTX* buildLibrary()
{
    if (!manager())
        return nullptr;
    OSSL_LIB_CTX* lib = OSSL_LIB_CTX_new();
    if (!lib)
        return nullptr;
    // Loading a provider by hand keeps the default one from loading by itself, so both are named.
    if (OSSL_PROVIDER_add_builtin(lib, kProviderName, providerInit) != 1 ||
        !OSSL_PROVIDER_load(lib, "default") || !OSSL_PROVIDER_load(lib, kProviderName)) {
        OSSL_LIB_CTX_free(lib);
        return nullptr;
    }
    return lib;
}

} // namespace

const char* GcmProvider::preference()
{
    return "?provider=pavo-gcm";
}

OSSL_LIB_CTX* GcmProvider::library()
{
    // Built once and kept for the process: every TLS context made in it refers to it.
    static OSSL_LIB_CTX* const lib = buildLibrary();
    return lib;
}

std::uint64_t GcmProvider::bytesProcessed()
{
    return g_bytes.load(std::memory_order_relaxed);
}

} // namespace plat
