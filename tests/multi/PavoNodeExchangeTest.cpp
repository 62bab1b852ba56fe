#include "support/MultiNode.h"
#include "support/TempDir.h"

#include "app/NodeOptions.h"
#include "catalog/CCatalog.h"
#include "node/PavoNode.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

using namespace std::chrono_literals;
using namespace multi;

namespace {

// The in-process node reads the scale once, when its first timer starts; the peer process gets
// the same one.
const char* const kScale = "0.02";
const char* const kParty = "nodeparty";
constexpr int kWaitMs = 60000;

} // namespace

// The node as start-up assembles it, with no window at all, is a full member of a party: a file
// placed in its send folder arrives complete at a node process, and the process's file arrives
// here, both through the node's own periodic work.
TEST(PavoNodeExchange, AWindowlessNodeAndANodeProcessExchangeFilesBothWays)
{
    ::setenv("PAVO_TIME_SCALE", kScale, 1);
    TempDir a;
    TempDir b;
    const int portA = freePort();
    const int portB = freePort();
    writeFile(a.file("Pavo.ini"), pavoIni(kParty, "NodeA", portA, {IniPeer::tcp("NodeB", portB)}));
    writeFile(b.file("Pavo.ini"), pavoIni(kParty, "NodeB", portB, {IniPeer::tcp("NodeA", portA)}));
    const std::string fromA = pattern(300000, 1);
    const std::string fromB = pattern(200000, 2);
    writeFile(b.file("SEND/from-b.bin"), fromB);

    NodeProcess peer(NodeProcess::pavoNode(b.path(), {"-D119", "-NOSKYPE"}, kScale));
    ASSERT_TRUE(peer.start());
    ASSERT_TRUE(peer.waitForOutput("DEBUG_MODE ON", 30s)) << peer.errors();

    NodeOptions options;
    options.messagingClient = false;
    {
        PavoNode node(a.path(), options);
        ASSERT_EQ(node.setOnline(true), PavoNode::OnlineRefusal::None);
        writeFile(a.file("SEND/from-a.bin"), fromA);

        EXPECT_TRUE(plat::runUntil(
            [&] {
                CatalogRecord entry;
                return node.catalog()->hasEntry("NodeB", "from-b.bin", &entry) &&
                       entry.completeFlag() == 1;
            },
            kWaitMs))
            << peer.output();
        EXPECT_EQ(readFile(a.file("RECV/NodeB/from-b.bin")), fromB);
        EXPECT_TRUE(plat::runUntil(
            [&] { return sizeOf(b.file("RECV/NodeA/from-a.bin")) == fromA.size(); }, kWaitMs))
            << peer.output();
        // The peer writes the last chunk before it marks the entry complete; the bytes decide.
        EXPECT_TRUE(plat::runUntil(
            [&] { return readFile(b.file("RECV/NodeA/from-a.bin")) == fromA; }, kWaitMs));
        node.shutdown();
    }
    peer.signal(SIGTERM);
    EXPECT_EQ(peer.waitExit(30s), 0) << peer.errors();
}
