#include "skype/VX_SKYPECOM.h"
#include "platform/EventLoop.h"
#include "skype/ClientWire.h"
#include "skype/VX_SKYPECOMUSER.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"
#include "support/TestNode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The link to the messaging client, against the stand-in run as the real program and against a
// scripted endpoint for what the stand-in never sends.
namespace {

using ClientWire::Kind;

struct Recorder : VX_SKYPECOMUSER
{
    std::vector<int> states;
    std::vector<std::string> calls;
    std::function<void(const std::string&)> onCall;

    void record(std::string call)
    {
        calls.push_back(call);
        if (onCall)
            onCall(call);
    }
    void onAttachState(int state) override { states.push_back(state); }
    void onCurrentUserHandle(std::string_view t) override { record("handle:" + std::string(t)); }
    void onUserStatus(std::string_view t) override { record("status:" + std::string(t)); }
    void onUsers(std::string_view t) override { record("users:" + std::string(t)); }
    void onUser(std::string_view t) override { record("user:" + std::string(t)); }
    void onApplication(std::string_view t) override { record("app:" + std::string(t)); }
};

class LinkTest : public ::testing::Test
{
protected:
    LinkTest() { TestNode::useFastTimers(); }

    std::string runtime(const std::string& user) const { return dir.file(user); }
    std::string config(const std::string& text)
    {
        const std::string path = dir.file("users.ini");
        std::ofstream(path) << text;
        return path;
    }
    static bool waitState(const VX_SKYPECOM& link, int state, int ms = 5000)
    {
        return plat::runUntil([&] { return link.linkState() == state; }, ms);
    }

    TempDir dir;
};

TEST_F(LinkTest, AttachStatesFollowTheClient)
{
    StandinProcess standin(config("[alice]\nruntime = alice\ncontacts = bob\n"
                                  "[rob]\nruntime = rob\nattach = refuse\n"
                                  "[una]\nruntime = una\nattach = unavailable\n"
                                  "available-after = 1000\n"));
    ASSERT_TRUE(standin.start());

    // All three look for their clients at once; una's becomes available only later.
    VX_SKYPECOM alice(ClientWire::endpointPath(runtime("alice")));
    VX_SKYPECOM rob(ClientWire::endpointPath(runtime("rob")));
    VX_SKYPECOM una(ClientWire::endpointPath(runtime("una")));
    Recorder a, r, u;
    alice.addUser(&a);
    rob.addUser(&r);
    una.addUser(&u);
    una.openWindow({});
    alice.openWindow({});
    rob.openWindow({});

    ASSERT_TRUE(waitState(alice, VX_SKYPECOM::LINK_ATTACHED));
    EXPECT_EQ(a.states, (std::vector<int>{VX_SKYPECOM::LINK_PENDING, VX_SKYPECOM::LINK_ATTACHED}));
    // What follows an attach: the client's "CONNSTATUS" reaches nobody.
    ASSERT_TRUE(plat::runUntil([&] { return a.calls.size() >= 2; }, 5000));
    EXPECT_EQ(a.calls, (std::vector<std::string>{"handle:alice", "status:ONLINE"}));

    // Refused is no client: discovery goes on and every answer is told again.
    ASSERT_TRUE(plat::runUntil([&] { return r.states.size() >= 4; }, 5000));
    EXPECT_EQ(std::vector<int>(r.states.begin(), r.states.begin() + 4),
              (std::vector<int>{2, 3, 2, 3}));
    EXPECT_EQ(rob.sendCommand("SEARCH FRIENDS"), 0);
    EXPECT_EQ(r.states.back(), VX_SKYPECOM::LINK_DETACHED);

    ASSERT_TRUE(waitState(una, VX_SKYPECOM::LINK_ATTACHED));
    ASSERT_GE(u.states.size(), 4u);
    EXPECT_EQ(u.states.front(), VX_SKYPECOM::LINK_NOT_AVAILABLE);
    const std::vector<int> last(u.states.end() - 3, u.states.end());
    EXPECT_EQ(last, (std::vector<int>{VX_SKYPECOM::LINK_AVAILABLE, VX_SKYPECOM::LINK_PENDING,
                                      VX_SKYPECOM::LINK_ATTACHED}));
}

TEST_F(LinkTest, StateTextsForTheMainWindow)
{
    EXPECT_STREQ(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_DETACHED), "SKYPEと未接続");
    EXPECT_STREQ(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_ATTACHED), "SKYPEと接続");
    EXPECT_STREQ(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_PENDING), "SKYPEと認証中");
    EXPECT_STREQ(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_REFUSED), "SKYPEと切断");
    EXPECT_EQ(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_NOT_AVAILABLE), nullptr);
    EXPECT_EQ(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_AVAILABLE), nullptr);
}

TEST_F(LinkTest, RepliesArriveBeforeTheResultAlsoForNestedCommands)
{
    StandinProcess standin(config("[alice]\nruntime = alice\ncontacts = bob, carol\n"
                                  "[bob]\nruntime = bob\n[carol]\nruntime = carol\n"));
    ASSERT_TRUE(standin.start());
    VX_SKYPECOM link(ClientWire::endpointPath(runtime("alice")));
    Recorder rec;
    link.addUser(&rec);
    link.openWindow({});
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));
    plat::runFor(50);
    rec.calls.clear();

    // A reply handler that sends a command itself, as the user model does: the outer result
    // arrives while the inner command waits, and each command still gets its own.
    std::vector<int> innerResults;
    rec.onCall = [&](const std::string& call) {
        if (call.rfind("users:", 0) == 0) {
            innerResults.push_back(link.sendCommand("GET USER bob ONLINESTATUS"));
            innerResults.push_back(link.sendCommand("GET CURRENTUSERHANDLE"));
        }
    };
    EXPECT_EQ(link.sendCommand("SEARCH FRIENDS"), 1);
    EXPECT_EQ(innerResults, (std::vector<int>{1, 1}));
    EXPECT_EQ(rec.calls, (std::vector<std::string>{
                             "users:bob, carol", "user:bob ONLINESTATUS ONLINE", "handle:alice"}));
    EXPECT_EQ(link.linkState(), VX_SKYPECOM::LINK_ATTACHED);
}

TEST_F(LinkTest, AnAttachAnsweringASecondDiscoveryIsToldOnce)
{
    StandinProcess standin(config("[alice]\nruntime = alice\n"));
    ASSERT_TRUE(standin.start());
    VX_SKYPECOM link(ClientWire::endpointPath(runtime("alice")));
    Recorder rec;
    link.addUser(&rec);
    // Two discoveries before the first answer, as a slow client gets from the retry timer.
    link.openWindow({});
    link.openWindow({});
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));
    plat::runFor(300);
    EXPECT_EQ(std::count(rec.states.begin(), rec.states.end(), int(VX_SKYPECOM::LINK_ATTACHED)), 1);
    EXPECT_EQ(rec.states.back(), VX_SKYPECOM::LINK_ATTACHED);
}

TEST_F(LinkTest, RefusedCommandAndLostClientDetachThenDiscoveryResumes)
{
    StandinProcess standin(config("[alice]\nruntime = alice\n"));
    ASSERT_TRUE(standin.start());
    VX_SKYPECOM link(ClientWire::endpointPath(runtime("alice")));
    Recorder rec;
    link.addUser(&rec);
    link.openWindow({});
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));

    rec.states.clear();
    EXPECT_EQ(link.sendCommand("NO SUCH COMMAND"), 0);
    EXPECT_EQ(link.linkState(), VX_SKYPECOM::LINK_DETACHED);
    EXPECT_EQ(rec.states, std::vector<int>{VX_SKYPECOM::LINK_DETACHED});
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));

    // The client goes away: noticed at once, not only at the next command.
    rec.states.clear();
    standin.stop();
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_DETACHED));
    EXPECT_EQ(rec.states, std::vector<int>{VX_SKYPECOM::LINK_DETACHED});
    EXPECT_EQ(link.sendCommand("GET CURRENTUSERHANDLE"), 0);
    plat::runFor(300);
    EXPECT_EQ(link.linkState(), VX_SKYPECOM::LINK_DETACHED);

    ASSERT_TRUE(standin.start());
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));
    EXPECT_EQ(link.sendCommand("GET CURRENTUSERHANDLE"), 1);
}

TEST_F(LinkTest, NoSkypeModeNeverLooksForTheClient)
{
    StandinProcess standin(config("[alice]\nruntime = alice\n"));
    ASSERT_TRUE(standin.start());
    VX_SKYPECOM link(ClientWire::endpointPath(runtime("alice")));
    link.setLookForClient(false);
    Recorder rec;
    link.addUser(&rec);
    link.openWindow({});
    plat::runFor(400); // four discovery periods
    EXPECT_EQ(link.linkState(), VX_SKYPECOM::LINK_DETACHED);
    EXPECT_TRUE(rec.states.empty());
}

// An endpoint that the test scripts frame by frame.
class ScriptedEndpoint
{
public:
    explicit ScriptedEndpoint(const std::string& path) : m_path(path)
    {
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 4);
    }
    ~ScriptedEndpoint()
    {
        dropClient();
        ::close(m_listen);
        ::unlink(m_path.c_str());
    }

    // Takes the node's connection (running the loop until it comes) and its discover frame,
    // and answers with attach status 0.
    bool acceptAndAttach()
    {
        dropClient();
        pollfd p{m_listen, POLLIN, 0};
        if (!plat::runUntil([&] { return ::poll(&p, 1, 0) > 0; }, 5000))
            return false;
        m_client = ::accept(m_listen, nullptr, nullptr);
        std::uint8_t discover[ClientWire::HeaderSize];
        if (m_client < 0 || ::recv(m_client, discover, sizeof discover, MSG_WAITALL) !=
                                static_cast<ssize_t>(sizeof discover))
            return false;
        send(ClientWire::encodeStatus(Kind::Attach, ClientWire::AttachSuccess));
        return true;
    }
    // The loop runs while the socket is full, so a node in this process keeps reading.
    void send(const std::vector<std::uint8_t>& bytes)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n =
                ::send(m_client, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                at += static_cast<std::size_t>(n);
            else if (n < 0 && errno == EAGAIN)
                plat::runFor(1);
            else
                return;
        }
    }
    void dropClient()
    {
        if (m_client >= 0)
            ::close(m_client);
        m_client = -1;
    }

private:
    std::string m_path;
    int m_listen = -1;
    int m_client = -1;
};

TEST_F(LinkTest, HostileNotificationsChangeNothing)
{
    ::mkdir(runtime("x").c_str(), 0700);
    ScriptedEndpoint endpoint(runtime("x") + "/client.sock");
    VX_SKYPECOM link(runtime("x") + "/client.sock");
    Recorder rec;
    link.addUser(&rec);
    link.openWindow({});
    ASSERT_TRUE(endpoint.acceptAndAttach());
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));
    rec.states.clear();

    const std::string longLine(ClientWire::MaxPayload - 1, 'Q');
    const std::vector<std::string> ignored = {"",
                                              "GARBAGE",
                                              "users alice",
                                              "CONNSTATUS OFFLINE",
                                              "ERROR 9901 whatever",
                                              longLine,
                                              std::string("\x01\x02\xff\xfe binary", 12)};
    for (const std::string& text : ignored)
        endpoint.send(ClientWire::encodeText(Kind::Notification, text));
    // A result nobody waits for, and frames only a node sends.
    endpoint.send(ClientWire::encodeStatus(Kind::Result, 1));
    endpoint.send(ClientWire::encodeText(Kind::Command, "SEARCH FRIENDS"));
    endpoint.send(ClientWire::encodeDiscover());
    endpoint.send(ClientWire::encodeText(Kind::Notification, "USERS marker"));
    ASSERT_TRUE(plat::runUntil([&] { return !rec.calls.empty(); }, 5000));
    EXPECT_EQ(rec.calls, std::vector<std::string>{"users:marker"});
    EXPECT_TRUE(rec.states.empty());
    EXPECT_EQ(link.linkState(), VX_SKYPECOM::LINK_ATTACHED);
}

// A client may write a command's result and its next notifications in one write: they are all
// read with the result, and must not wait in the buffer for the client's next bytes.
TEST_F(LinkTest, NotificationsReadWithAResultFollowItAtOnce)
{
    ::mkdir(runtime("x").c_str(), 0700);
    ScriptedEndpoint endpoint(runtime("x") + "/client.sock");
    VX_SKYPECOM link(runtime("x") + "/client.sock");
    Recorder rec;
    link.addUser(&rec);
    link.openWindow({});
    ASSERT_TRUE(endpoint.acceptAndAttach());
    ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));
    rec.calls.clear();

    std::vector<std::uint8_t> oneWrite = ClientWire::encodeStatus(Kind::Result, 7);
    for (const char* text : {"USERS bob carol", "USER bob ONLINESTATUS ONLINE"}) {
        const auto frame = ClientWire::encodeText(Kind::Notification, text);
        oneWrite.insert(oneWrite.end(), frame.begin(), frame.end());
    }
    endpoint.send(oneWrite);
    EXPECT_EQ(link.sendCommand("SEARCH FRIENDS"), 7);
    EXPECT_TRUE(rec.calls.empty()) << "handled after the command, not inside it";
    ASSERT_TRUE(plat::runUntil([&] { return rec.calls.size() >= 2; }, 2000));
    EXPECT_EQ(rec.calls,
              (std::vector<std::string>{"users:bob carol", "user:bob ONLINESTATUS ONLINE"}));
}

TEST_F(LinkTest, BrokenFramingDropsTheClientWhichIsFoundAgain)
{
    ::mkdir(runtime("x").c_str(), 0700);
    ScriptedEndpoint endpoint(runtime("x") + "/client.sock");
    VX_SKYPECOM link(runtime("x") + "/client.sock");
    Recorder rec;
    link.addUser(&rec);
    link.openWindow({});

    std::vector<std::uint8_t> unknownKind = {'Z', 0, 0, 0, 0};
    std::vector<std::uint8_t> tooLong = {'N', 0, 0, 0x10, 0x01}; // 1 MiB + 256 bytes announced
    std::vector<std::uint8_t> noZero = {'N', 3, 0, 0, 0, 'a', 'b', 'c'};
    std::vector<std::uint8_t> shortStatus = {'A', 2, 0, 0, 0, 0, 0};
    for (const auto& bad : {unknownKind, tooLong, noZero, shortStatus}) {
        ASSERT_TRUE(endpoint.acceptAndAttach());
        ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_ATTACHED));
        rec.states.clear();
        endpoint.send(bad);
        ASSERT_TRUE(waitState(link, VX_SKYPECOM::LINK_DETACHED)) << int(bad[0]);
        EXPECT_EQ(rec.states, std::vector<int>{VX_SKYPECOM::LINK_DETACHED});
    }
    EXPECT_TRUE(rec.calls.empty());
}

} // namespace
