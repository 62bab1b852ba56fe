#include "platform/EventLoop.h"
#include "skype/ClientWire.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPECOMUSER.h"
#include "support/ProsodyServer.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"
#include "support/TestNode.h"
#include "support/XmppTestAccount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

// The messaging client serving an XMPP account on a real Prosody, spoken to through its endpoint
// as a node does; the other side is an account the test scripts stanza by stanza.
namespace {

const std::string App = "PAVO000party";
const std::string Alter = "ALTER APPLICATION " + App + " ";
constexpr int WaitMs = 15000;

std::string writeFile(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream(path) << text;
    ::chmod(path.c_str(), mode);
    return path;
}

// Waits for a notification equal to text; earlier ones with its first words are passed over.
bool waitExactly(StandinClient& program, const std::string& text)
{
    const std::string prefix = text.substr(
        0, text.find(' ', text.find("STREAMS") == std::string::npos ? 0 : text.find("STREAMS")));
    while (auto note = program.waitFor(prefix, WaitMs)) {
        if (*note == text)
            return true;
    }
    return false;
}

class XmppMessengerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* user : {"alice", "mallory", "carol"})
            ASSERT_TRUE(server.addAccount(user, std::string(user) + "-secret"));
        ASSERT_TRUE(server.start());
    }

    std::string config(const std::string& user, const std::string& contacts,
                       const std::string& password)
    {
        const std::string pw = writeFile(dir.file(user + ".pw"), password + "\n", 0600);
        return writeFile(dir.file(user + ".conf"),
                         "jid = " + user + "@localhost\npassword-file = " + pw +
                             "\nserver = 127.0.0.1\nport = " + std::to_string(server.port()) +
                             "\nca-file = " + server.caFile() + "\ncontacts = " + contacts +
                             "\nruntime = " + dir.file(user + "-run") + "\n",
                         0644);
    }

    // alice's client, logged in; its full JID.
    std::string startAlice(const std::string& contacts)
    {
        alice = StandinProcess::account(config("alice", contacts, "alice-secret"));
        EXPECT_TRUE(alice->start());
        EXPECT_TRUE(alice->waitForOutput("logged in as alice@localhost/", WaitMs))
            << alice->output();
        const std::string& out = alice->output();
        const std::size_t at = out.find("logged in as ") + 13;
        return out.substr(at, out.find('\n', at) - at);
    }

    // A program at alice's endpoint, attached, with App created.
    std::unique_ptr<StandinClient> program()
    {
        auto p = std::make_unique<StandinClient>(dir.file("alice-run"));
        EXPECT_TRUE(p->attach());
        EXPECT_TRUE(p->command("CREATE APPLICATION " + App).has("CREATE APPLICATION " + App));
        return p;
    }

    std::unique_ptr<XmppTestAccount> scripted(const std::string& user)
    {
        auto a = std::make_unique<XmppTestAccount>(user + "@localhost", user + "-secret",
                                                   server.port(), server.caFile());
        EXPECT_TRUE(a->login());
        return a;
    }

    static std::string open(const std::string& to, const std::string& sid,
                            const std::string& app = App, const std::string& blockSize = "16")
    {
        return "<iq type='set' id='open-" + sid + "' to='" + to +
               "'><open xmlns='http://jabber.org/protocol/ibb' block-size='" + blockSize +
               "' sid='" + sid +
               "' stanza='iq'><application xmlns='urn:x-pavo:messenger:0' name='" + app +
               "'/></open></iq>";
    }
    static std::string data(const std::string& to, const std::string& sid, const std::string& id,
                            const std::string& seqAttr, const std::string& payload)
    {
        return "<iq type='set' id='" + id + "' to='" + to +
               "'><data xmlns='http://jabber.org/protocol/ibb' sid='" + sid + "' " + seqAttr + ">" +
               payload + "</data></iq>";
    }
    // One write of a program as it crosses a stream: text form, little-endian length.
    static std::string frame(const std::string& text)
    {
        std::string f(1, '\0');
        for (int i = 0; i < 4; ++i)
            f.push_back(char(text.size() >> (8 * i)));
        return f + text;
    }

    TempDir dir;
    ProsodyServer server{dir.file("prosody")};
    std::unique_ptr<StandinProcess> alice;
};

TEST_F(XmppMessengerTest, HostileBlocksCloseTheirStreamOnlyAndTheClientGoesOn)
{
    const std::string aliceJid = startAlice("mallory@localhost");
    auto p = program();
    auto mallory = scripted("mallory");
    mallory->send("<presence to='alice@localhost' type='subscribe'/>");
    mallory->send("<presence to='alice@localhost' type='subscribed'/>");
    mallory->send("<presence/>");
    ASSERT_TRUE(p->waitFor("USER mallory@localhost BUDDYSTATUS 3", WaitMs));
    ASSERT_TRUE(p->waitFor("USER mallory@localhost ONLINESTATUS ONLINE", WaitMs));

    struct Case
    {
        const char* what;
        std::string seqAttr;
        std::string payload;
        const char* condition;
    };
    const std::string good = XmppTestAccount::base64(frame("x"));
    const std::vector<Case> cases = {
        {"block out of sequence", "seq='1'", good, "unexpected-request"},
        {"block over the block size", "seq='0'", XmppTestAccount::base64(std::string(17, 'a')),
         "policy-violation"},
        {"not base64", "seq='0'", "@@@@", "bad-request"},
        {"no sequence number", "", good, "bad-request"},
        {"no write of a program", "seq='0'",
         XmppTestAccount::base64(std::string(1, '\x09') + "abcd"), "bad-request"},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string sid = "h" + std::to_string(++number);
        mallory->send(open(aliceJid, sid));
        ASSERT_TRUE(mallory->waitFor({"id=\"open-" + sid + "\"", "type=\"result\""}));
        ASSERT_TRUE(waitExactly(*p, "APPLICATION " + App +
                                        " STREAMS mallory@localhost:" + std::to_string(number)));
        mallory->send(data(aliceJid, sid, "d-" + sid, c.seqAttr, c.payload));
        EXPECT_TRUE(mallory->waitFor({"id=\"d-" + sid + "\"", "type=\"error\"", c.condition}));
        EXPECT_TRUE(mallory->waitFor({"<close", "sid=\"" + sid + "\""}));
        EXPECT_TRUE(waitExactly(*p, "APPLICATION " + App + " STREAMS"));
    }

    // Opens that cannot be taken make no stream.
    mallory->send("<iq type='set' id='nosid' to='" + aliceJid +
                  "'><open xmlns='http://jabber.org/protocol/ibb' block-size='16'/></iq>");
    EXPECT_TRUE(mallory->waitFor({"id=\"nosid\"", "bad-request"}));
    mallory->send(open(aliceJid, "other", "PAVO000other"));
    EXPECT_TRUE(mallory->waitFor({"id=\"open-other\"", "not-acceptable"}));

    // A block for a stream that does not exist leaves the open one alone.
    mallory->send(open(aliceJid, "g"));
    ASSERT_TRUE(mallory->waitFor({"id=\"open-g\"", "type=\"result\""}));
    const std::string live = "mallory@localhost:" + std::to_string(number + 1);
    ASSERT_TRUE(waitExactly(*p, "APPLICATION " + App + " STREAMS " + live));
    mallory->send(data(aliceJid, "nosuch", "d-nosuch", "seq='0'", good));
    EXPECT_TRUE(mallory->waitFor({"id=\"d-nosuch\"", "item-not-found"}));
    const std::string hello = frame("hello");
    mallory->send(
        data(aliceJid, "g", "d-g0", "seq='0'", XmppTestAccount::base64(hello.substr(0, 7))));
    mallory->send(data(aliceJid, "g", "d-g1", "seq='1'", XmppTestAccount::base64(hello.substr(7))));
    EXPECT_TRUE(mallory->waitFor({"id=\"d-g1\"", "type=\"result\""}));
    ASSERT_TRUE(p->waitFor("APPLICATION " + App + " RECEIVED " + live + "=5", WaitMs));
    EXPECT_TRUE(p->command(Alter + "READ " + live).has(Alter + "READ " + live + " hello"));
    EXPECT_TRUE(p->command("PING").has("PONG"));
    EXPECT_TRUE(alice->running());
}

TEST_F(XmppMessengerTest, AContactOpensAFewStreamsAtMostAndTheOpenOnesKeepWorking)
{
    const std::string aliceJid = startAlice("mallory@localhost");
    auto p = program();
    auto mallory = scripted("mallory");
    mallory->send("<presence to='alice@localhost' type='subscribe'/>");
    mallory->send("<presence to='alice@localhost' type='subscribed'/>");
    mallory->send("<presence/>");
    ASSERT_TRUE(p->waitFor("USER mallory@localhost ONLINESTATUS ONLINE", WaitMs));

    // A burst of opens, as fast as the server passes them on: a few are taken.
    const int cap = 4;
    const int burst = 12;
    for (int i = 0; i < burst; ++i)
        mallory->send(open(aliceJid, "b" + std::to_string(i)));
    int taken = 0;
    int refused = 0;
    for (int i = 0; i < burst; ++i) {
        const auto answer = mallory->waitFor({"id=\"open-b" + std::to_string(i) + "\""});
        ASSERT_TRUE(answer) << i;
        taken += answer->find("type=\"result\"") != std::string::npos;
        refused += answer->find("resource-constraint") != std::string::npos;
    }
    EXPECT_EQ(taken, cap);
    EXPECT_EQ(refused, burst - cap);
    ASSERT_TRUE(waitExactly(*p, "APPLICATION " + App +
                                    " STREAMS mallory@localhost:1 mallory@localhost:2 "
                                    "mallory@localhost:3 mallory@localhost:4"));
    // The streams taken carry data as before.
    mallory->send(data(aliceJid, "b0", "d-b0", "seq='0'", XmppTestAccount::base64(frame("hi"))));
    EXPECT_TRUE(mallory->waitFor({"id=\"d-b0\"", "type=\"result\""}));
    ASSERT_TRUE(p->waitFor("APPLICATION " + App + " RECEIVED mallory@localhost:1=2", WaitMs));
    EXPECT_TRUE(
        p->command(Alter + "READ mallory@localhost:1").has(Alter + "READ mallory@localhost:1 hi"));
}

TEST_F(XmppMessengerTest, StrangerIsNoContactAndCannotOpenAStream)
{
    const std::string aliceJid = startAlice("mallory@localhost");
    auto p = program();
    auto carol = scripted("carol");
    carol->send("<presence to='alice@localhost' type='subscribe'/>");
    carol->send("<presence to='" + aliceJid + "'/>");
    carol->send(open(aliceJid, "c1"));
    EXPECT_TRUE(carol->waitFor({"id=\"open-c1\"", "type=\"error\"", "not-acceptable"}));

    const auto friends = p->command("SEARCH FRIENDS");
    EXPECT_TRUE(friends.has("USERS ")) << (friends.notes.empty() ? "" : friends.notes[0]);
    EXPECT_TRUE(p->command("GET USER carol@localhost ONLINESTATUS")
                    .has("USER carol@localhost ONLINESTATUS OFFLINE"));
    EXPECT_EQ(p->command(Alter + "CONNECT carol@localhost").result, 1u);
    EXPECT_TRUE(p->waitFor("ERROR 9901", WaitMs));
    p->pump();
    for (const auto& note : p->notes) {
        if (note != "USER carol@localhost ONLINESTATUS OFFLINE") {
            EXPECT_EQ(note.find("carol"), std::string::npos) << note;
        }
    }
}

TEST_F(XmppMessengerTest, WrongPasswordIsToldAndTheClientStaysUnavailableWhileItRetries)
{
    alice = StandinProcess::account(config("alice", "mallory@localhost", "not-the-password"));
    ASSERT_TRUE(alice->start());
    ASSERT_TRUE(alice->waitForOutput("authentication failed for alice@localhost", WaitMs))
        << alice->output();
    StandinClient p(dir.file("alice-run"));
    EXPECT_EQ(p.discover(), ClientWire::AttachNotAvailable);
    // It tries again (after a pause) and is refused again; a program is still told the same.
    const std::size_t first = alice->output().find("authentication failed");
    EXPECT_TRUE(alice->waitForOutput("trying again in 2 s", WaitMs)) << alice->output();
    EXPECT_NE(alice->output().find("authentication failed", first + 1), std::string::npos);
    EXPECT_EQ(p.discover(), ClientWire::AttachNotAvailable);
    EXPECT_TRUE(alice->running());

    // A node's link shows the client as not available and goes on looking for it.
    TestNode::useFastTimers();
    struct States : VX_SKYPECOMUSER
    {
        std::vector<int> seen;
        void onAttachState(int state) override { seen.push_back(state); }
    } states;
    VX_SKYPECOM link(ClientWire::endpointPath(dir.file("alice-run")));
    link.addUser(&states);
    link.openWindow({});
    ASSERT_TRUE(plat::runUntil(
        [&] {
            return std::count(states.seen.begin(), states.seen.end(),
                              int(VX_SKYPECOM::LINK_NOT_AVAILABLE)) >= 2;
        },
        WaitMs));
    EXPECT_EQ(link.linkState(), VX_SKYPECOM::LINK_NOT_AVAILABLE);
    EXPECT_EQ(std::count(states.seen.begin(), states.seen.end(), int(VX_SKYPECOM::LINK_ATTACHED)),
              0);
}

TEST_F(XmppMessengerTest, ServerWithoutTheCaFileIsNotTrusted)
{
    const std::string conf = config("alice", "mallory@localhost", "alice-secret");
    std::ifstream in(conf);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    text.erase(text.find("ca-file"),
               text.find('\n', text.find("ca-file")) - text.find("ca-file") + 1);
    alice = StandinProcess::account(writeFile(conf, text, 0644));
    ASSERT_TRUE(alice->start());
    EXPECT_TRUE(alice->waitForOutput("is not trusted", WaitMs)) << alice->output();
    EXPECT_EQ(alice->output().find("logged in"), std::string::npos);
}

TEST(XmppMessengerScramTest, PasswordIsNotSentToAServerWithoutScram)
{
    TempDir dir;
    ProsodyServer server(dir.file("prosody"));
    server.addConfig("disable_sasl_mechanisms = { \"SCRAM-SHA-1\", \"SCRAM-SHA-1-PLUS\" }\n");
    ASSERT_TRUE(server.addAccount("alice", "alice-secret"));
    ASSERT_TRUE(server.start());
    const std::string pw = writeFile(dir.file("alice.pw"), "alice-secret\n", 0600);
    auto alice = StandinProcess::account(
        writeFile(dir.file("alice.conf"),
                  "jid = alice@localhost\npassword-file = " + pw +
                      "\nserver = 127.0.0.1\nport = " + std::to_string(server.port()) +
                      "\nca-file = " + server.caFile() + "\nruntime = " + dir.file("run") + "\n",
                  0644));
    ASSERT_TRUE(alice->start());
    EXPECT_TRUE(alice->waitForOutput("the password was not sent", WaitMs)) << alice->output();
    alice->stop();
    EXPECT_EQ(alice->output().find("logged in"), std::string::npos);
    EXPECT_EQ(server.log().find("Authenticated as"), std::string::npos) << server.log();
}

TEST(XmppMessengerConfigTest, BadAccountConfigsStopTheStartWithTheReason)
{
    TempDir dir;
    const std::string pw = writeFile(dir.file("pw"), "secret\n", 0600);
    const std::string open = writeFile(dir.file("open.pw"), "secret\n", 0644);
    const std::string rest = "\nserver = 127.0.0.1\nruntime = " + dir.file("run") + "\n";
    struct Case
    {
        std::string text;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"password-file = " + pw + rest, "no jid"},
        {"jid = alice@localhost\npassword-file = " + open + rest, "has mode 0644"},
        {"jid = alice@localhost\npassword-file = " + dir.file("missing") + rest, "cannot open"},
        {"jid = alice@localhost\npassword-file = " + pw + "\npassword = secret-service" + rest,
         "either password-file or"},
        {"jid = alice@localhost\npassword = hunter2" + rest, "password is \"secret-service\""},
        {"jid = a-very-long-name@a-long-domain.example\npassword-file = " + pw + rest,
         "not a bare JID"},
        {"jid = alice@localhost\npassword-file = " + pw + "\ncontacts = bob@localhost, bo b" + rest,
         "not a usable bare JID"},
        {"jid = alice@localhost\npassword-file = " + pw + "\ntls = maybe" + rest,
         "tls is starttls or direct"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto client = StandinProcess::account(writeFile(dir.file("alice.conf"), c.text, 0644));
        EXPECT_FALSE(client->start());
        EXPECT_EQ(client->exitCode(), 1);
        EXPECT_NE(client->output().find(c.reason), std::string::npos) << client->output();
    }
}

} // namespace
