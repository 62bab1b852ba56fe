#include "catalog/HopRouter.h"

#include "app/NodeSettings.h"
#include "catalog/CCatalogCash.h"
#include "catalog/PendingFiles.h"
#include "exchange/ChangeSignal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CatalogRecord travelling(const std::string& origin, const std::vector<std::string>& hops,
                         const std::string& name = "doc.txt")
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(catalog::RecordLayout::TagValue);
    r.setPendingFlag(1);
    r.setKind(catalog::RecordKind::New);
    r.setOriginNodeCp932(origin);
    r.setPartyNameCp932("party");
    r.setRegistrationTime({2024, 5, 3, 15, 15, 12, 0, 0});
    r.setExpiry({2024, 5, 6, 18, 15, 12, 0, 0});
    plat::FindRecord f;
    f.setNameCp932(name);
    f.setSize(100);
    r.setFileDescription(f);
    for (std::size_t i = 0; i < hops.size(); ++i)
        r.setHopCp932(i, hops[i]);
    r.setHopCount(static_cast<std::int32_t>(hops.size()));
    catalog::stampChecksum(r);
    return r;
}

std::vector<std::string> nodes(int n)
{
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back("n" + std::to_string(i));
    return out;
}

} // namespace

// The hop rules on their own: a record goes to a peer only when that peer is neither its origin
// nor in its hop list and it has not made 10 hops yet; on its way this node joins the hop list.
TEST(HopRouter, RoutesARecordOnlyWhereTheHopRulesAllow)
{
    const HopRouter::Route route{"peerB", "peerB", "me"};
    struct Row
    {
        const char* what;
        CatalogRecord record;
        bool passes;
    };
    const Row rows[] = {
        {"fresh from its origin", travelling("other", {}), true},
        {"after nine hops", travelling("other", nodes(9)), true},
        {"back to its origin", travelling("peerB", {}), false},
        {"to a node it passed", travelling("other", {"x", "peerB", "y"}), false},
        {"after ten hops", travelling("other", nodes(10)), false},
        {"invalid (no file name)", travelling("other", {}, ""), false},
    };
    for (const Row& row : rows) {
        const auto out = HopRouter::routed(route, row.record);
        ASSERT_EQ(out.has_value(), row.passes) << row.what;
        if (!out)
            continue;
        const std::int32_t hops = row.record.hopCount();
        EXPECT_EQ(out->hopCount(), hops + 1) << row.what;
        EXPECT_EQ(out->hopCp932(static_cast<std::size_t>(hops)), "me") << row.what;
        EXPECT_TRUE(catalog::verifyChecksum(*out)) << row.what;
    }
}

TEST(HopRouter, NoRouteWithoutNamesARecordCanCarry)
{
    TempDir dir;
    NodeSettings settings{dir.path()};
    CCatalogCash list;
    PendingFiles pending(dir.file("CATALOG"));
    ChangeSignal changes;
    HopRouter router(settings, list, pending, changes);
    settings.setNodeName("me");
    EXPECT_TRUE(router.routeTo("peerB"));
    EXPECT_FALSE(router.routeTo("")) << "no peer";
    EXPECT_FALSE(router.routeTo("\xF0\x9F\x98\x80")) << "not in CP932";
    settings.setNodeName("");
    EXPECT_FALSE(router.routeTo("peerB")) << "this node's hop entry would be empty";
}
