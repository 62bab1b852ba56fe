#include "platform/NodeKey.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

} // namespace

TEST(NodeKey, SignaturesVerifyOnlyForTheirKeyAndMessage)
{
    const auto key = plat::NodeKey::generate();
    const auto other = plat::NodeKey::generate();
    ASSERT_TRUE(key && other);
    EXPECT_NE(key->publicKey(), other->publicKey());
    const auto message = bytesOf("origin A, report.bin, 2026-12-11 10:00");
    const plat::NodeKey::Signature sig = key->sign(message);
    EXPECT_TRUE(plat::NodeKey::verify(key->publicKey(), message, sig));

    auto altered = message;
    altered[0] ^= 1;
    plat::NodeKey::Signature bent = sig;
    bent[10] ^= 0x80;
    EXPECT_FALSE(plat::NodeKey::verify(key->publicKey(), altered, sig));
    EXPECT_FALSE(plat::NodeKey::verify(key->publicKey(), message, bent));
    EXPECT_FALSE(plat::NodeKey::verify(other->publicKey(), message, sig));
    EXPECT_FALSE(plat::NodeKey::verify(key->publicKey(), message, plat::NodeKey::Signature{}));
}

TEST(NodeKey, AStoredSeedGivesBackTheSameKeyPair)
{
    const auto key = plat::NodeKey::generate();
    ASSERT_TRUE(key);
    const auto again = plat::NodeKey::fromSeed(key->seed());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->publicKey(), key->publicKey());
    const auto message = bytesOf("x");
    EXPECT_TRUE(plat::NodeKey::verify(key->publicKey(), message, again->sign(message)));
}

TEST(NodeKey, FingerprintIsFourGroupsOfTheKeysHash)
{
    const auto key = plat::NodeKey::generate();
    ASSERT_TRUE(key);
    const std::string fp = plat::NodeKey::fingerprint(key->publicKey());
    EXPECT_TRUE(std::regex_match(fp, std::regex("[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}")))
        << fp;
    // SHA-256 of 32 zero bytes begins 66687aadf862bd77.
    EXPECT_EQ(plat::NodeKey::fingerprint(plat::NodeKey::PublicKey{}), "6668-7aad-f862-bd77");
}
