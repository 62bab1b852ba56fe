#include "support/MultiNode.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <thread>

// Two pavo processes whose only connection goes through the messaging client: the stand-in
// serves alice for node A and bob for node B, each at the node's own runtime folder.
namespace {

using namespace std::chrono_literals;
using namespace multi;
namespace fs = std::filesystem;

struct SkypeNode : MultiNode
{
    SkypeNode(std::string nodeName, std::string folder)
        : MultiNode(std::move(nodeName), std::move(folder))
    {
        args = {"-D119"};
    }

    // The only connection: peerName at peerSkypeId, through the messaging client.
    void configure(const std::string& peerName, const std::string& peerSkypeId)
    {
        configureWith("sky", {IniPeer::skype(peerName, peerSkypeId)});
    }
};

class SkypeTransfer : public ::testing::Test
{
protected:
    SkypeTransfer()
    {
        // The runtime folders the nodes will be given (NodeProcess::pavoNode).
        std::ofstream(root.file("users.ini"))
            << "[alice]\nruntime = " << a.file("run") << "\ncontacts = bob\n"
            << "[bob]\nruntime = " << b.file("run") << "\ncontacts = alice\n";
    }
    void TearDown() override
    {
        for (SkypeNode* n : {&a, &b})
            n->stopIfRunning();
    }

    TempDir root;
    SkypeNode a{"A", root.file("A")};
    SkypeNode b{"B", root.file("B")};
    StandinProcess standin{root.file("users.ini")};
};

TEST_F(SkypeTransfer, FileCrossesAndThePeerIsKnownByItsHello)
{
    // A knows its peer under a name that B does not bear: B's hello rebinds it, and what was
    // pending for the old name goes to B.
    a.configure("OldB", "bob");
    b.configure("A", "alice");
    const std::string content = pattern(7 * 20480 + 333, 11);
    writeFile(a.file("SEND/notes.bin"), content);
    ASSERT_TRUE(standin.start());
    a.start("0.05");
    b.start("0.05");

    const std::string atB = b.file("RECV/A/notes.bin");
    ASSERT_TRUE(waitFor([&] { return readFile(atB) == content; }, 120s))
        << "B holds " << sizeOf(atB) << " bytes\n"
        << a.process->output().substr(0, 4000);
    EXPECT_FALSE(fs::exists(a.file("CATALOG/OldB.dat")));

    EXPECT_EQ(a.stop(), 0);
    const std::string ini = readFile(a.file("Pavo.ini"));
    EXPECT_NE(ini.find("NAME=B\n"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("OldB"), std::string::npos) << ini;
}

TEST_F(SkypeTransfer, ClientRestartedMidTransferAndTheFileStillArrivesWhole)
{
    a.configure("B", "bob");
    b.configure("A", "alice");
    const std::size_t size = 3 * 1024 * 1024;
    const std::string content = pattern(size, 12);
    writeFile(a.file("SEND/big.bin"), content);
    ASSERT_TRUE(standin.start());
    a.start("0.1");
    b.start("0.1");

    const std::string atB = b.file("RECV/A/big.bin");
    ASSERT_TRUE(waitFor([&] { return sizeOf(atB) >= size / 8; }, 180s))
        << "B holds " << sizeOf(atB) << " bytes";
    standin.stop();
    const std::uintmax_t cut = sizeOf(atB);
    EXPECT_LT(cut, size);
    // A node notices the lost client on whatever it was doing: reading, or waiting on a command.
    const char* const lostLines[] = {
        "VX_SKYPECOM: closed by the client", "VX_SKYPECOM: closed while a command waited",
        "VX_SKYPECOM: command not sent", "VX_SKYPECOM: command refused",
        "VX_SKYPECOM: no answer to a command"};
    for (SkypeNode* n : {&a, &b})
        EXPECT_TRUE(waitFor(
            [&] {
                const std::string out = n->process->output();
                return std::any_of(std::begin(lostLines), std::end(lostLines),
                                   [&](const char* l) { return out.find(l) != std::string::npos; });
            },
            30s))
            << n->name << "\n"
            << n->process->output().substr(0, 4000);
    std::this_thread::sleep_for(500ms);

    ASSERT_TRUE(standin.start());
    ASSERT_TRUE(waitFor([&] { return readFile(atB) == content; }, 300s))
        << "B holds " << sizeOf(atB) << " bytes of " << size;
    EXPECT_GT(sizeOf(atB), cut);
}

} // namespace
