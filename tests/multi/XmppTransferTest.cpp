#include "support/MultiNode.h"
#include "support/ProsodyServer.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

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

// Runs "pavo --set-party-key" in the node's folder with the passphrase as its one input line;
// the key goes into Pavo.ini. True when it succeeded.
bool setPartyKey(const MultiNode& node, const std::string& passphrase)
{
    const std::string command = "cd '" + node.dir + "' && PAVO_NO_KEYCHAIN=1 '" +
                                NodeProcess::pavoBinary() + "' --set-party-key 2>>set-key.err";
    std::FILE* pipe = ::popen(command.c_str(), "w");
    if (!pipe)
        return false;
    std::fputs((passphrase + "\n").c_str(), pipe);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The bytes of every in-band block the server relayed, decoded, one after the other.
std::string relayedBlocks(const std::string& relayed)
{
    static const std::regex data("<data[^>]*>([A-Za-z0-9+/=]*)</data>");
    std::string bytes;
    for (auto it = std::sregex_iterator(relayed.begin(), relayed.end(), data);
         it != std::sregex_iterator(); ++it)
        bytes += QByteArray::fromBase64(QByteArray::fromStdString((*it)[1].str())).toStdString();
    return bytes;
}

class XmppTransfer : public ::testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(server.addAccount("alice", "alice-secret"));
        ASSERT_TRUE(server.addAccount("bob", "bob-secret"));
    }
    // The server and both clients; both nodes of the party.
    void begin(const std::string& partyA = "sky", const std::string& partyB = "sky")
    {
        ASSERT_TRUE(server.start());
        aliceClient = client("alice", "bob", a);
        bobClient = client("bob", "alice", b);
        a.configureWith(partyA, {IniPeer::skype("B", "bob@localhost")});
        b.configureWith(partyB, {IniPeer::skype("A", "alice@localhost")});
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
    begin();
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
    begin();
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

// With a party key at A, by what B has: only the same key gets anything, and whatever crosses
// the server is ciphertext under a name that is no party's.
TEST(XmppKeyedTransfer, OnlyTheSameKeyGetsTheFileAndTheServerSeesNoPlainByte)
{
    struct Row
    {
        const char* what;
        const char* partyB;
        const char* passphraseB; // empty: no key
        bool arrives;
    };
    const Row rows[] = {
        {"same key", "KeyParty", "violet wagon seventy crumbs", true},
        {"another key", "KeyParty", "amber kettle ninety hinges", false},
        {"no key", "KeyParty", "", false},
        {"another party (same passphrase)", "OtherParty", "violet wagon seventy crumbs", false},
    };
    const std::string marker = "MARKER-5e1d-in-the-file";
    const std::string content = pattern(3 * 20480, 8) + marker + pattern(777, 9);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        struct World : XmppTransfer
        {
            void TestBody() override {}
        } w;
        w.server.recordRelayed();
        ASSERT_NO_FATAL_FAILURE(w.SetUp());
        ASSERT_NO_FATAL_FAILURE(w.begin("KeyParty", row.partyB));
        ASSERT_TRUE(setPartyKey(w.a, "violet wagon seventy crumbs"))
            << readFile(w.a.file("set-key.err"));
        if (*row.passphraseB) {
            ASSERT_TRUE(setPartyKey(w.b, row.passphraseB)) << readFile(w.b.file("set-key.err"));
        }
        writeFile(w.a.file("SEND/notes.bin"), content);
        w.a.start("0.05");
        w.b.start("0.05");
        const std::string atB = w.b.file("RECV/A/notes.bin");
        if (row.arrives) {
            ASSERT_TRUE(waitFor([&] { return readFile(atB) == content; }, 120s))
                << w.a.process->output() << w.aliceClient->output() << w.bobClient->output();
        } else {
            ASSERT_TRUE(waitFor(
                [&] {
                    return w.a.process->output().find("パーティ鍵が一致しません") !=
                           std::string::npos;
                },
                90s))
                << w.a.process->output();
            EXPECT_EQ(sizeOf(atB), 0u);
        }
        w.TearDown();
        // What alice's client (node A's, with the key) sent through the server.
        std::string relayed;
        std::istringstream lines(readFile(w.server.relayedFile()));
        for (std::string line; std::getline(lines, line);) {
            if (line.find("from='alice@localhost/") != std::string::npos)
                relayed += line + "\n";
        }
        const std::string blocks = relayedBlocks(relayed);
        if (row.arrives) {
            EXPECT_GT(blocks.size(), content.size());
        }
        EXPECT_NE(relayed.find("PAVOTLS1"), std::string::npos);
        for (const std::string& clear : {std::string("KeyParty"), std::string("notes.bin"), marker,
                                         std::string("\x02\x00\x02\x00", 4)}) {
            EXPECT_EQ(relayed.find(clear), std::string::npos) << clear;
            EXPECT_EQ(blocks.find(clear), std::string::npos) << clear;
        }
    }
}

// A server that holds the client far below the pace the node asks for: the client says so,
// and so does the node's status line.
TEST_F(XmppTransfer, AServerLimitingTheClientIsToldOnce)
{
    server.addModule("limits");
    server.addConfig("limits = { c2s = { rate = \"16kb/s\"; burst = \"1s\" } }\n");
    ASSERT_NO_FATAL_FAILURE(begin());
    writeFile(a.file("SEND/slow.bin"), pattern(600 * 1024, 5));
    a.start("0.05");
    b.start("0.05");
    EXPECT_TRUE(aliceClient->waitForOutput("the server limits this connection to about", 90000))
        << "B holds " << sizeOf(b.file("RECV/A/slow.bin")) << " bytes\n"
        << aliceClient->output() << bobClient->output() << a.process->output()
        << b.process->output();
    EXPECT_TRUE(waitFor(
        [&] {
            return a.process->output().find("メッセージサーバーがこの接続を約") !=
                   std::string::npos;
        },
        30s))
        << a.process->output();
    const std::string out = aliceClient->output();
    EXPECT_EQ(out.find("limits this connection", out.find("limits this connection") + 1),
              std::string::npos)
        << "said once";
}

} // namespace
