#include "wire/RecordBuilder.h"
#include "watch/Registration.h"

#include "app/NodeSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

using catalog::RecordKind::Changed;
using catalog::RecordKind::Deleted;
using catalog::RecordKind::New;

namespace {

using Builder = std::optional<CatalogRecord> (*)(const plat::FindRecord&,
                                                 const catalog::RegistrationContext&);

std::time_t unixOf(const plat::SystemTime& local)
{
    const auto t = plat::unixFromLocal(local);
    EXPECT_TRUE(t.has_value());
    return t.value_or(0);
}

plat::FindRecord describe(std::string_view nameCp932, std::uint64_t size)
{
    plat::FindRecord f;
    f.setAttributes(plat::FindAttr::Archive);
    f.setCreationTime(0x01D9'0000'1111'2222ull);
    f.setLastWriteTime(0x01DA'0000'3333'4444ull);
    f.setSize(size);
    f.setNameCp932(nameCp932);
    return f;
}

catalog::RegistrationContext context(std::time_t now, int ms = 0, int limitDay = 3)
{
    return {"node1", "party", limitDay, {now, ms}};
}

TEST(RecordBuilderTest, BuildsEveryFieldOfTheThreeKinds)
{
    TempDir dir;
    NodeSettings settings(dir.path());
    settings.setNodeName("ノード");
    settings.setPartyName("party");
    settings.setLimitDay(3);
    const plat::SystemTime at{2024, 5, 5, 3, 9, 41, 7, 250};
    const auto ctx = catalog::registrationFrom(settings, [&] {
        return catalog::WallClock{unixOf(at), 250};
    });
    const plat::FindRecord description = describe("report.pdf", 123456);

    const struct
    {
        Builder build;
        std::uint32_t kind;
    } cases[] = {{catalog::makeNewRecord, New},
                 {catalog::makeChangedRecord, Changed},
                 {catalog::makeDeletedRecord, Deleted}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const auto r = c.build(description, ctx);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->recordLength(), 820u);
        EXPECT_EQ(r->recordTag(), 0x00100002u);
        EXPECT_EQ(r->pendingFlag(), 1u);
        EXPECT_EQ(r->kind(), c.kind);
        EXPECT_EQ(r->fileDescription(), description);
        EXPECT_EQ(r->originNodeUtf8(), "ノード");
        EXPECT_EQ(r->partyNameCp932(), "party");
        EXPECT_EQ(r->registrationTime(), at);
        EXPECT_EQ(r->expiry(), (plat::SystemTime{2024, 5, 1, 6, 9, 41, 7, 0}));
        EXPECT_EQ(r->completeFlag(), 0u);
        EXPECT_EQ(r->bytesReceived(), 0u);
        EXPECT_EQ(r->hopCount(), 0);
        EXPECT_EQ(r->linkFlag(), 0u);
        EXPECT_EQ(r->checksumFlag(), 0u);
        EXPECT_EQ(r->checksum(), 0u);
        EXPECT_TRUE(r->hopCp932(0).empty());
    }
}

TEST(RecordBuilderTest, ExpiryIsLimitDaysLaterWithItsOwnDayOfWeek)
{
    const struct
    {
        plat::SystemTime registered;
        int limitDay;
        plat::SystemTime expiry;
    } cases[] = {
        // Over a month's end: the 31st plus three days is the 3rd, a Saturday.
        {{2024, 1, 3, 31, 23, 30, 15, 250}, 3, {2024, 2, 6, 3, 23, 30, 15, 0}},
        // No days: the registration date itself, milliseconds dropped.
        {{2024, 1, 3, 31, 23, 30, 15, 250}, 0, {2024, 1, 3, 31, 23, 30, 15, 0}},
        {{2023, 12, 0, 31, 8, 0, 0, 0}, 3, {2024, 1, 3, 3, 8, 0, 0, 0}},
        {{2024, 2, 2, 27, 12, 0, 0, 999}, 3, {2024, 3, 5, 1, 12, 0, 0, 0}},
        {{2024, 2, 2, 27, 12, 0, 0, 0}, 1, {2024, 2, 3, 28, 12, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.registered.year << "-" << c.registered.month << "-"
                                        << c.registered.day << " +" << c.limitDay);
        const auto r = catalog::makeNewRecord(
            describe("a.txt", 1),
            context(unixOf(c.registered), c.registered.milliseconds, c.limitDay));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->registrationTime(), c.registered);
        EXPECT_EQ(r->expiry(), c.expiry);
    }
}

TEST(RecordBuilderTest, ExpiryBeyondTheCalendarStaysZero)
{
    const auto r = catalog::makeNewRecord(
        describe("a.txt", 1), context(unixOf({2024, 1, 3, 31, 0, 0, 0, 0}), 0, INT_MAX));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->expiry(), plat::SystemTime{});
    EXPECT_EQ(r->registrationTime().year, 2024);
}

TEST(RecordBuilderTest, RefusesWhatCannotBeRegisteredSoundly)
{
    const std::time_t now = unixOf({2024, 5, 3, 15, 9, 0, 0, 0});
    const std::uint64_t fourGiB = 1ull << 32;
    const struct
    {
        const char* what;
        std::string fileName; // CP932
        std::uint64_t size;
        std::string node;
        std::string party;
        bool newAndChanged; // built as new and changed records
        bool deleted;       // built as a deletion
    } cases[] = {
        {"largest 32-bit size", "a.txt", 0xFFFF'FFFFull, "node1", "party", true, true},
        {"4 GiB", "a.txt", fourGiB, "node1", "party", false, true},
        {"empty file name", "", 1, "node1", "party", false, false},
        {"dot dot", "..", 1, "node1", "party", false, false},
        {"control character", "a\nb.txt", 1, "node1", "party", false, false},
        {"cut double-byte character", std::string("a\x83", 2), 1, "node1", "party", false, false},
        {"node name outside CP932", "a.txt", 1, "node\xF0\x9F\x98\x80", "party", false, false},
        {"party name outside CP932", "a.txt", 1, "node1", "\xF0\x9F\x98\x80", false, false},
        {"empty node name", "a.txt", 1, "", "party", false, false},
        {"empty party name", "a.txt", 1, "node1", "", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const catalog::RegistrationContext ctx{c.node, c.party, 3, {now, 0}};
        const plat::FindRecord d = describe(c.fileName, c.size);
        EXPECT_EQ(catalog::makeNewRecord(d, ctx).has_value(), c.newAndChanged);
        EXPECT_EQ(catalog::makeChangedRecord(d, ctx).has_value(), c.newAndChanged);
        EXPECT_EQ(catalog::makeDeletedRecord(d, ctx).has_value(), c.deleted);
    }
}

} // namespace
