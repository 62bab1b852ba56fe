#include "node/PavoNode.h"

#include "support/MultiNode.h"
#include "support/TempDir.h"
#include "support/TestNode.h"

#include "catalog/CCatalog.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <string>

using namespace multi;

namespace {

constexpr int kWaitMs = 60000;

bool completeAt(PavoNode& node, const std::string& origin, const std::string& file)
{
    CatalogRecord entry;
    return node.catalog() && node.catalog()->hasEntry(origin, file, &entry) &&
           entry.completeFlag() == 1;
}

} // namespace

// Two nodes in one process, each in its own folder with its own port, form a party over loopback:
// a file placed in either one's send folder arrives whole at the other. Each node's connections
// serve from and store into that node's own catalog; the second node built takes over the design
// classes' accessors, so a part that still reached its collaborators through them would serve
// the wrong catalog, store chunks into the wrong one or claim downloads for the other node.
TEST(PavoNodePair, AFileRegisteredOnEitherNodeArrivesIdenticalOnTheOther)
{
    TestNode::useFastTimers();
    TempDir a;
    TempDir b;
    const int portA = freePort();
    const int portB = freePort();
    writeFile(a.file("Pavo.ini"), pavoIni("pair", "NodeA", portA, {IniPeer::tcp("NodeB", portB)}));
    writeFile(b.file("Pavo.ini"), pavoIni("pair", "NodeB", portB, {IniPeer::tcp("NodeA", portA)}));
    const std::string fromA = pattern(700000, 1);
    const std::string fromB = pattern(300000, 2);

    NodeOptions options;
    options.messagingClient = false;
    PavoNode nodeA(a.path(), options);
    PavoNode nodeB(b.path(), options);
    ASSERT_EQ(nodeA.setOnline(true), PavoNode::OnlineRefusal::None);
    ASSERT_EQ(nodeB.setOnline(true), PavoNode::OnlineRefusal::None);
    writeFile(a.file("SEND/from-a.bin"), fromA);
    writeFile(b.file("SEND/from-b.bin"), fromB);

    ASSERT_TRUE(plat::runUntil(
        [&] {
            return completeAt(nodeB, "NodeA", "from-a.bin") &&
                   completeAt(nodeA, "NodeB", "from-b.bin");
        },
        kWaitMs));
    EXPECT_EQ(readFile(b.file("RECV/NodeA/from-a.bin")), fromA);
    EXPECT_EQ(readFile(a.file("RECV/NodeB/from-b.bin")), fromB);
    // Nothing landed in the wrong node: neither received its own file back.
    EXPECT_EQ(sizeOf(a.file("RECV/NodeA/from-a.bin")), 0u);
    EXPECT_EQ(sizeOf(b.file("RECV/NodeB/from-b.bin")), 0u);
    EXPECT_FALSE(nodeA.catalog()->hasEntry("NodeA", "from-b.bin", nullptr));
    EXPECT_FALSE(nodeB.catalog()->hasEntry("NodeB", "from-a.bin", nullptr));

    // The first node keeps working after the second has gone.
    nodeB.shutdown();
    plat::runFor(20);
    EXPECT_TRUE(nodeA.catalog()->hasEntry("NodeA", "from-a.bin", nullptr));
    nodeA.shutdown();
}
