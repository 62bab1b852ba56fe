#include "ui/CatalogRowText.h"

#include "wire/CatalogRecord.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {
struct RecordSpec
{
    std::uint32_t kind = catalog::RecordKind::New;
    const char* origin = "peer";
    std::uint32_t complete = 0;
    std::uint32_t link = 0;
    std::uint64_t size = 1000;
    std::uint32_t received = 0;
};

CatalogRecord makeRecord(const RecordSpec& s)
{
    CatalogRecord r;
    r.setKind(s.kind);
    EXPECT_TRUE(r.setOriginNodeUtf8(s.origin));
    r.setCompleteFlag(s.complete);
    r.setLinkFlag(s.link);
    r.setBytesReceived(s.received);
    plat::FindRecord f;
    f.setSize(s.size);
    f.setNameCp932("a.txt");
    r.setFileDescription(f);
    return r;
}

struct StatusCase
{
    const char* what;
    RecordSpec spec;
    const char* status;
    const char* size;
};

class StatusText : public ::testing::TestWithParam<StatusCase>
{
};
} // namespace

TEST_P(StatusText, FirstMatchingRuleWins)
{
    const StatusCase& c = GetParam();
    const CatalogRecord r = makeRecord(c.spec);
    EXPECT_EQ(ui::statusText(r, "self"), c.status) << c.what;
    EXPECT_EQ(ui::sizeText(r), c.size) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusText,
    ::testing::Values(
        StatusCase{"deleted beats complete", {2, "peer", 1, 0, 1000, 1000}, "削除", "1,000"},
        StatusCase{"received and complete", {1, "peer", 1, 0, 1000, 1000}, "取得済", "1,000"},
        StatusCase{"own shortcut", {1, "self", 1, 1, 1000, 1000}, "link", "1,000"},
        StatusCase{"own copy", {1, "self", 1, 0, 1000, 1000}, "------", "1,000"},
        StatusCase{"incomplete half", {1, "peer", 0, 0, 1000, 500}, "50.00%", "1,000"},
        StatusCase{"incomplete nothing yet", {3, "peer", 0, 0, 1234567, 0}, "0.00%", "1,234,567"},
        StatusCase{"received reaches size but not complete",
                   {1, "peer", 0, 0, 1000, 1000},
                   "???",
                   "1,000"},
        StatusCase{"received beyond size", {1, "peer", 0, 0, 1000, 4000}, "???", "1,000"},
        StatusCase{"size zero", {1, "peer", 0, 0, 0, 0}, "データ異常", "0"},
        StatusCase{"4 GiB exactly", {1, "peer", 0, 0, 4294967296ull, 0}, "2G超", "2G超"},
        StatusCase{"complete beats 2G", {1, "peer", 1, 0, 4294967296ull + 5, 0}, "取得済", "2G超"},
        StatusCase{
            "largest 32-bit size", {1, "peer", 0, 0, 4294967295ull, 1}, "0.00%", "4,294,967,295"}));

TEST(CatalogRowText, DatesAndThousands)
{
    EXPECT_EQ(ui::registrationText({2024, 3, 0, 7, 9, 5, 4, 12}), "2024/ 3/ 7 09:05:04:012");
    EXPECT_EQ(ui::expiryText({2024, 12, 0, 31, 0, 0, 0, 0}), "2024/12/31");
    for (const auto& [value, text] : std::vector<std::pair<unsigned long, const char*>>{
             {0, "0"}, {999, "999"}, {1000, "1,000"}, {100000, "100,000"}, {1000000, "1,000,000"}})
        EXPECT_EQ(ui::groupThousands(value), text);
}

TEST(CatalogRowText, ManagementFilesAreNamedByTheirLastFourCharacters)
{
    EXPECT_TRUE(ui::isManagementFileName("nodeInfomation.nod"));
    EXPECT_TRUE(ui::isManagementFileName(".nod"));
    EXPECT_FALSE(ui::isManagementFileName("nod"));
    EXPECT_FALSE(ui::isManagementFileName("a.NOD"));
    EXPECT_FALSE(ui::isManagementFileName("a.node"));
}
