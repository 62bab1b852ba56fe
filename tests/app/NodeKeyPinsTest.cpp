#include "support/TempDir.h"

#include "app/NodeKeyPins.h"

#include <gtest/gtest.h>

namespace {

plat::NodeKey::PublicKey keyOf(std::uint8_t b)
{
    plat::NodeKey::PublicKey k{};
    k.fill(b);
    return k;
}

} // namespace

TEST(NodeKeyPins, FirstKeyIsPinnedAndAChangedOneWaitsForTheUserAcrossRestarts)
{
    TempDir dir;
    const std::string path = dir.file("nodekeys.dat");
    using V = NodeKeyPins::Verdict;
    {
        NodeKeyPins pins(path);
        EXPECT_EQ(pins.check("A", keyOf(1)), V::Pinned);
        EXPECT_EQ(pins.check("A", keyOf(1)), V::Matches);
        EXPECT_EQ(pins.check("B", keyOf(2)), V::Pinned);
        EXPECT_EQ(pins.check("A", keyOf(3)), V::Changed);
        EXPECT_EQ(pins.check("name that no record field can hold!", keyOf(4)), V::Unusable);
    }
    NodeKeyPins pins(path);
    EXPECT_EQ(pins.pinned("A"), keyOf(1));
    EXPECT_EQ(pins.changed(), std::vector<std::string>{"A"});
    EXPECT_EQ(pins.check("A", keyOf(3)), V::Changed);
    EXPECT_FALSE(pins.accept("B"));
    EXPECT_TRUE(pins.accept("A"));
    EXPECT_EQ(NodeKeyPins(path).pinned("A"), keyOf(3));
    EXPECT_TRUE(NodeKeyPins(path).changed().empty());
    EXPECT_EQ(NodeKeyPins(path).check("A", keyOf(1)), V::Changed);
    EXPECT_FALSE(NodeKeyPins(path).pinned("C"));
}
