#include "support/TempDir.h"

#include "app/NodeKeyPins.h"
#include "catalog/RecordTrust.h"
#include "catalog/SealStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace catalog;

namespace {

const plat::SystemTime kNow{2026, 12, 5, 11, 10, 0, 0, 0};

plat::SystemTime at(int day, int hour, int ms = 0)
{
    return plat::SystemTime{
        2026, 12, 0, std::uint16_t(day), std::uint16_t(hour), 0, 0, std::uint16_t(ms)};
}

CatalogRecord record(const char* origin, const char* file, std::uint32_t kind,
                     plat::SystemTime when)
{
    CatalogRecord r;
    r.setRecordLength(820);
    r.setKind(kind);
    r.setOriginNodeCp932(origin);
    r.setPartyNameCp932("party");
    r.setRegistrationTime(when);
    plat::FindRecord f;
    f.setNameCp932(file);
    f.setSize(1234);
    r.setFileDescription(f);
    return r;
}

RecordSeal sealed(const plat::NodeKey& key, const CatalogRecord& r, std::uint8_t content,
                  plat::SystemTime withdrawn = {})
{
    RecordSeal seal;
    seal.contentHash.fill(content);
    seal.withdrawn = withdrawn;
    signSeal(key, r, seal);
    return seal;
}

class RecordTrustTest : public ::testing::Test
{
protected:
    TempDir dir;
    plat::NodeKey own = *plat::NodeKey::generate();
    plat::NodeKey keyB = *plat::NodeKey::generate();
    plat::NodeKey stranger = *plat::NodeKey::generate();
    NodeKeyPins pins{dir.file("nodekeys.dat")};
    SealStore seals{dir.file("seals.dat")};
    RecordTrust trust{seals, [] { return std::string("A"); }, &own, &pins, [] { return kNow; }};

    void SetUp() override { pins.check("B", keyB.publicKey()); }
};

} // namespace

TEST_F(RecordTrustTest, RegistrationsOfAKnownOriginCountOnlyWithItsValidSeal)
{
    const CatalogRecord b = record("B", "b.bin", RecordKind::New, at(10, 9));
    const CatalogRecord c = record("C", "c.bin", RecordKind::New, at(10, 9));
    CatalogRecord altered = b;
    altered.setKind(RecordKind::Changed);
    const CatalogRecord ownFile = record("A", "mine.bin", RecordKind::Changed, at(10, 9));
    struct Case
    {
        const char* what;
        CatalogRecord record;
        std::optional<RecordSeal> seal;
        bool accepted;
    };
    const Case cases[] = {
        {"signed by its origin", b, sealed(keyB, b, 1), true},
        {"no seal", b, std::nullopt, false},
        {"signed by another key", b, sealed(stranger, b, 1), false},
        {"changed after signing", altered, sealed(keyB, b, 1), false},
        {"origin without a known key, no seal", c, std::nullopt, true},
        {"origin without a known key, any seal", c, sealed(stranger, c, 1), true},
        {"this node's file replaced by a peer", ownFile, sealed(keyB, ownFile, 1), false},
        {"this node's own seal", ownFile, sealed(own, ownFile, 1), true},
        {"more than a day ahead", record("C", "c.bin", RecordKind::Changed, at(12, 12)),
         std::nullopt, false},
        {"less than a day ahead", record("C", "c.bin", RecordKind::Changed, at(12, 10)),
         std::nullopt, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(trust.admit(c.record, c.seal, std::nullopt).accepted, c.accepted) << c.what;
}

TEST_F(RecordTrustTest, ADeletionWithdrawsOnlyTheExactRegistrationItNames)
{
    const CatalogRecord reg = record("B", "b.bin", RecordKind::New, at(10, 9, 5));
    trust.remember(reg, sealed(keyB, reg, 7));
    const CatalogRecord del = record("B", "b.bin", RecordKind::Deleted, at(10, 11));
    struct Case
    {
        const char* what;
        std::optional<RecordSeal> seal;
        bool accepted;
    };
    const Case cases[] = {
        {"names the registration", sealed(keyB, del, 7, at(10, 9, 5)), true},
        {"no seal", std::nullopt, false},
        {"forged by another member", sealed(stranger, del, 7, at(10, 9, 5)), false},
        {"names an older registration", sealed(keyB, del, 7, at(10, 9, 4)), false},
        {"names other content", sealed(keyB, del, 8, at(10, 9, 5)), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(trust.admit(del, c.seal, reg).accepted, c.accepted) << c.what;
    // With nothing stored there is nothing it could wrongly withdraw: it travels on.
    EXPECT_TRUE(trust.admit(del, sealed(keyB, del, 7, at(10, 9, 5)), std::nullopt).accepted);
}

TEST_F(RecordTrustTest, AWithdrawnRegistrationSentAgainIsRefusedEvenAfterARestart)
{
    const CatalogRecord reg = record("B", "b.bin", RecordKind::New, at(10, 9));
    const RecordSeal regSeal = sealed(keyB, reg, 7);
    const CatalogRecord del = record("B", "b.bin", RecordKind::Deleted, at(10, 11));
    trust.remember(del, sealed(keyB, del, 7, at(10, 9)));
    EXPECT_FALSE(trust.admit(reg, regSeal, std::nullopt).accepted);

    SealStore reloaded(dir.file("seals.dat"));
    RecordTrust again(
        reloaded, [] { return std::string("A"); }, &own, &pins, [] { return kNow; });
    EXPECT_FALSE(again.admit(reg, regSeal, std::nullopt).accepted);
    const CatalogRecord later = record("B", "b.bin", RecordKind::New, at(10, 12));
    EXPECT_TRUE(again.admit(later, sealed(keyB, later, 9), std::nullopt).accepted);
}

TEST_F(RecordTrustTest, OwnSealsAreKeptAndATornSealFileLosesOnlyItsTail)
{
    const CatalogRecord reg = record("A", "mine.bin", RecordKind::New, at(10, 9));
    RecordSeal::Hash hash{};
    hash.fill(0x5A);
    trust.sealRegistration(reg, hash);
    EXPECT_EQ(trust.contentHashOf(reg), hash);
    const auto seal = trust.sealOf(reg);
    ASSERT_TRUE(seal);
    EXPECT_TRUE(sealVerifies(own.publicKey(), reg, *seal));

    std::ofstream(dir.file("seals.dat"), std::ios::binary | std::ios::app) << "torn";
    SealStore reloaded(dir.file("seals.dat"));
    EXPECT_EQ(reloaded.find(reg), seal);
    EXPECT_EQ(std::filesystem::file_size(dir.file("seals.dat")), SealStore::Layout::Size);
}

TEST(RecordSeal, BlockCarriesEachRecordsSealOrNoneAndIgnoresWhatItCannotHold)
{
    RecordSeal one;
    one.contentHash.fill(1);
    one.signature.fill(2);
    const std::vector<std::optional<RecordSeal>> seals{one, std::nullopt, one};
    const std::vector<std::uint8_t> block = writeSealBlock(seals);
    EXPECT_EQ(block.size(), 8u + 3 * 124);
    EXPECT_EQ(readSealBlock(block.data(), block.size(), 3), seals);
    // Fewer records than seals, a block cut short, or no mark.
    EXPECT_EQ(readSealBlock(block.data(), block.size(), 1).size(), 1u);
    const auto cut = readSealBlock(block.data(), block.size() - 1, 3);
    EXPECT_EQ(cut[0], one);
    EXPECT_FALSE(cut[2]);
    std::vector<std::uint8_t> unmarked = block;
    unmarked[0] ^= 1;
    EXPECT_FALSE(readSealBlock(unmarked.data(), unmarked.size(), 3)[0]);
}
