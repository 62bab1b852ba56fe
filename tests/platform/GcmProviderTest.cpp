#include "platform/GcmProvider.h"

#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

using namespace plat;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t n, unsigned seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>((i * 37 + seed * 101) ^ (i >> 7));
    return b;
}

struct Sealed
{
    Bytes text;
    Bytes tag;
};

using Ctx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

class GcmProviderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!GcmProvider::library())
            GTEST_SKIP() << "this processor has no AVX-512: OpenSSL's own AES-GCM is used";
        ours_ = EVP_CIPHER_fetch(GcmProvider::library(), "AES-128-GCM", "provider=pavo-gcm");
        ASSERT_NE(ours_, nullptr);
        reference_ = EVP_CIPHER_fetch(nullptr, "AES-128-GCM", "provider=default");
        ASSERT_NE(reference_, nullptr);
    }

    void TearDown() override
    {
        EVP_CIPHER_free(ours_);
        EVP_CIPHER_free(reference_);
    }

    // The way TLS records are sealed: key, then nonce, the header as authenticated data, the
    // text in pieces of `piece` bytes (0: in one), the tag.
    static bool seal(EVP_CIPHER* cipher, const Bytes& aad, const Bytes& text, std::size_t piece,
                     Sealed* out)
    {
        Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
        int n = 0;
        out->text.assign(text.size(), 0);
        out->tag.assign(16, 0);
        if (EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, kKey, nullptr) != 1 ||
            EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, nullptr, kIv) != 1 ||
            (!aad.empty() &&
             EVP_EncryptUpdate(ctx.get(), nullptr, &n, aad.data(), int(aad.size())) != 1))
            return false;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t len = piece ? std::min(piece, text.size() - at) : text.size();
            if (EVP_EncryptUpdate(ctx.get(), out->text.data() + at, &n, text.data() + at,
                                  int(len)) != 1 ||
                std::size_t(n) != len)
                return false;
            at += len;
        }
        return EVP_EncryptFinal_ex(ctx.get(), nullptr, &n) == 1 &&
               EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, 16, out->tag.data()) == 1;
    }

    // Decrypts in place, as TLS does; false when the message is refused.
    static bool open(EVP_CIPHER* cipher, const Bytes& aad, Bytes* text, Bytes tag)
    {
        Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
        int n = 0;
        return EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, kKey, nullptr) == 1 &&
               EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, nullptr, kIv) == 1 &&
               EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, int(tag.size()), tag.data()) ==
                   1 &&
               (aad.empty() ||
                EVP_DecryptUpdate(ctx.get(), nullptr, &n, aad.data(), int(aad.size())) == 1) &&
               (text->empty() || EVP_DecryptUpdate(ctx.get(), text->data(), &n, text->data(),
                                                   int(text->size())) == 1) &&
               EVP_DecryptFinal_ex(ctx.get(), nullptr, &n) == 1;
    }

    static constexpr unsigned char kKey[16] = {1, 2,  3,  4,  5,  6,  7,  8,
                                               9, 10, 11, 12, 13, 14, 15, 16};
    static constexpr unsigned char kIv[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2};

    EVP_CIPHER* ours_ = nullptr;
    EVP_CIPHER* reference_ = nullptr;
};

TEST_F(GcmProviderTest, SealsAndOpensExactlyAsOpenSslDoes)
{
    struct Case
    {
        std::size_t text;
        std::size_t aad;
        std::size_t piece;
    };
    // Empty, shorter than a block, block edges, a whole TLS record (16 KiB and its type byte),
    // and the text given in pieces that split blocks.
    const Case cases[] = {{0, 0, 0},     {0, 5, 0},        {1, 5, 0},      {15, 0, 0},
                          {16, 5, 0},    {17, 13, 0},      {255, 5, 7},    {4096, 5, 100},
                          {16385, 5, 0}, {16385, 5, 4097}, {70000, 64, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.text << " bytes, " << c.aad << " of them "
                                          << "authenticated only, in pieces of " << c.piece);
        const Bytes aad = pattern(c.aad, 1);
        const Bytes text = pattern(c.text, 2);
        Sealed a, b;
        ASSERT_TRUE(seal(ours_, aad, text, c.piece, &a));
        ASSERT_TRUE(seal(reference_, aad, text, 0, &b));
        EXPECT_EQ(a.text, b.text);
        EXPECT_EQ(a.tag, b.tag);
        Bytes back = b.text;
        ASSERT_TRUE(open(ours_, aad, &back, b.tag));
        EXPECT_EQ(back, text);
        back = a.text;
        ASSERT_TRUE(open(reference_, aad, &back, a.tag));
        EXPECT_EQ(back, text);
    }
}

TEST_F(GcmProviderTest, RefusesWhatWasAlteredOrIsIncomplete)
{
    const Bytes aad = pattern(5, 3);
    const Bytes text = pattern(1000, 4);
    Sealed s;
    ASSERT_TRUE(seal(reference_, aad, text, 0, &s));
    struct Case
    {
        const char* name;
        std::size_t textBit; // bit to flip in the text, or npos
        std::size_t aadBit;
        std::size_t tagBit;
        std::size_t tagLength;
    };
    constexpr std::size_t none = std::size_t(-1);
    const Case cases[] = {
        {"a flipped text bit", 8 * 500 + 3, none, none, 16},
        {"a flipped header bit", none, 0, none, 16},
        {"a flipped tag bit", none, none, 127, 16},
        {"a tag cut to 8 bytes", none, none, none, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes t = s.text, a = aad, tag = s.tag;
        if (c.textBit != none)
            t[c.textBit / 8] ^= std::uint8_t(1u << (c.textBit % 8));
        if (c.aadBit != none)
            a[c.aadBit / 8] ^= std::uint8_t(1u << (c.aadBit % 8));
        if (c.tagBit != none)
            tag[c.tagBit / 8] ^= std::uint8_t(1u << (c.tagBit % 8));
        tag.resize(c.tagLength);
        EXPECT_FALSE(open(ours_, a, &t, tag));
    }

    // Without any tag to match, a decryption never succeeds.
    Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes t = s.text;
    int n = 0;
    ASSERT_EQ(EVP_DecryptInit_ex(ctx.get(), ours_, nullptr, kKey, kIv), 1);
    ASSERT_EQ(EVP_DecryptUpdate(ctx.get(), t.data(), &n, t.data(), int(t.size())), 1);
    EXPECT_NE(EVP_DecryptFinal_ex(ctx.get(), nullptr, &n), 1);
}

TEST_F(GcmProviderTest, RefusesANonceUsedTwiceAndDataOutOfOrder)
{
    Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const Bytes text = pattern(40, 5);
    Bytes out(40);
    int n = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), ours_, nullptr, kKey, kIv), 1);
    ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), out.data(), &n, text.data(), 40), 1);
    // Authenticated data after the text would not be authenticated as the peer expects.
    EXPECT_NE(EVP_EncryptUpdate(ctx.get(), nullptr, &n, text.data(), 5), 1);
    ASSERT_EQ(EVP_EncryptFinal_ex(ctx.get(), nullptr, &n), 1);
    // A second message needs a nonce of its own.
    EXPECT_NE(EVP_EncryptUpdate(ctx.get(), out.data(), &n, text.data(), 40), 1);
    ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, nullptr, kIv), 1);
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), out.data(), &n, text.data(), 40), 1);
    // Only the nonce length TLS uses is taken.
    EXPECT_NE(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, 16, nullptr), 1);
    EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, 12, nullptr), 1);
}

TEST_F(GcmProviderTest, TheOneCallInterfaceEndsTheMessageWithoutInput)
{
    const Bytes aad = pattern(13, 7);
    const Bytes text = pattern(500, 8);
    Sealed reference;
    ASSERT_TRUE(seal(reference_, aad, text, 0, &reference));
    Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(500), tag(16);
    ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), ours_, nullptr, kKey, kIv), 1);
    EXPECT_GE(EVP_Cipher(ctx.get(), nullptr, aad.data(), 13), 0);
    EXPECT_EQ(EVP_Cipher(ctx.get(), out.data(), text.data(), 500), 500);
    EXPECT_GE(EVP_Cipher(ctx.get(), nullptr, nullptr, 0), 0);
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, 16, tag.data()), 1);
    EXPECT_EQ(out, reference.text);
    EXPECT_EQ(tag, reference.tag);
}

TEST_F(GcmProviderTest, ANewKeyTakesEffectInTheSameContext)
{
    // A TLS key update re-keys the record's cipher context in place.
    const unsigned char next[16] = {42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27};
    const Bytes text = pattern(300, 6);
    Bytes a(300), b(300), tagA(16), tagB(16);
    int n = 0;
    for (auto [cipher, out, tag] :
         {std::tuple{ours_, &a, &tagA}, std::tuple{reference_, &b, &tagB}}) {
        Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
        ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, kKey, kIv), 1);
        ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), out->data(), &n, text.data(), 300), 1);
        ASSERT_EQ(EVP_EncryptFinal_ex(ctx.get(), nullptr, &n), 1);
        ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, next, kIv), 1);
        ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), out->data(), &n, text.data(), 300), 1);
        ASSERT_EQ(EVP_EncryptFinal_ex(ctx.get(), nullptr, &n), 1);
        ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, 16, tag->data()), 1);
    }
    EXPECT_EQ(a, b);
    EXPECT_EQ(tagA, tagB);
}

} // namespace
