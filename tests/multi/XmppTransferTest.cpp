#include "support/MultiNode.h"
#include "support/ProsodyServer.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sys/stat.h>

// Two pavo processes whose only connection goes through the messaging client on a real XMPP
// server: each node has its own client logged in to its own account, alice for node A and bob
// for node B, each serving the node's runtime folder; the accounts list each other.
namespace {

using namespace std::chrono_literals;
using namespace multi;

struct XmppNode : MultiNode
{
    XmppNode(std::string nodeName, std::string folder)
        : MultiNode(std::move(nodeName), std::move(folder))
    {
        args = {"-D119"};
    }
};

class XmppTransfer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.addAccount("alice", "alice-secret"));
        ASSERT_TRUE(server.addAccount("bob", "bob-secret"));
        ASSERT_TRUE(server.start());
        aliceClient = client("alice", "bob", a);
        bobClient = client("bob", "alice", b);
        a.configureWith("sky", {IniPeer::skype("B", "bob@localhost")});
        b.configureWith("sky", {IniPeer::skype("A", "alice@localhost")});
    }
    void TearDown() override
    {
        for (XmppNode* n : {&a, &b})
            n->stopIfRunning();
    }

    std::unique_ptr<StandinProcess> client(const std::string& user, const std::string& contact,
                                           const XmppNode& node)
    {
        const std::string pw = root.file(user + ".pw");
        std::ofstream(pw) << user << "-secret\n";
        ::chmod(pw.c_str(), 0600);
        const std::string conf = root.file(user + ".conf");
        std::ofstream(conf) << "jid = " << user << "@localhost\npassword-file = " << pw
                            << "\nserver = 127.0.0.1\nport = " << server.port()
                            << "\nca-file = " << server.caFile() << "\ncontacts = " << contact
                            << "@localhost\nruntime = " << node.file("run") << "\n";
        auto c = StandinProcess::account(conf);
        EXPECT_TRUE(c->start());
        return c;
    }

    TempDir root;
    ProsodyServer server{root.file("prosody")};
    XmppNode a{"A", root.file("A")};
    XmppNode b{"B", root.file("B")};
    std::unique_ptr<StandinProcess> aliceClient;
    std::unique_ptr<StandinProcess> bobClient;
};

TEST_F(XmppTransfer, FileCrossesBetweenTwoAccounts)
{
    const std::string content = pattern(7 * 20480 + 333, 21);
    writeFile(a.file("SEND/notes.bin"), content);
    a.start("0.05");
    b.start("0.05");
    const std::string atB = b.file("RECV/A/notes.bin");
    ASSERT_TRUE(waitFor([&] { return readFile(atB) == content; }, 180s))
        << "B holds " << sizeOf(atB) << " bytes\n"
        << aliceClient->output() << bobClient->output();
}

TEST_F(XmppTransfer, ServerRestartedMidTransferAndTheFileStillArrivesWhole)
{
    const std::size_t size = 2 * 1024 * 1024;
    const std::string content = pattern(size, 22);
    writeFile(a.file("SEND/big.bin"), content);
    a.start("0.1");
    b.start("0.1");
    const std::string atB = b.file("RECV/A/big.bin");
    ASSERT_TRUE(waitFor([&] { return sizeOf(atB) >= size / 8; }, 180s))
        << "B holds " << sizeOf(atB) << " bytes\n"
        << aliceClient->output() << bobClient->output();
    server.stop();
    const std::uintmax_t cut = sizeOf(atB);
    EXPECT_LT(cut, size);
    for (auto* c : {aliceClient.get(), bobClient.get()})
        EXPECT_TRUE(c->waitForOutput("lost the server connection", 30000)) << c->output();

    ASSERT_TRUE(server.start());
    ASSERT_TRUE(waitFor([&] { return readFile(atB) == content; }, 300s))
        << "B holds " << sizeOf(atB) << " bytes of " << size << "\n"
        << aliceClient->output() << bobClient->output();
    EXPECT_GT(sizeOf(atB), cut);
}

} // namespace
