#include "skype/ClientWire.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

// The messaging client in its local mode (several users meeting inside one process), run as the
// real program and spoken to through its endpoints.
namespace {

using ClientWire::Kind;
using Clock = std::chrono::steady_clock;
constexpr int WaitMs = 10000;
const std::string App = "PAVO000party";

// A running pavo-messenger; ended with SIGTERM when the object goes.
class Messenger
{
public:
    explicit Messenger(const std::vector<std::string>& args)
    {
        QStringList list;
        for (const auto& a : args)
            list << QString::fromStdString(a);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QString::fromUtf8(PAVO_BIN_DIR "/pavo-messenger"), list);
    }
    ~Messenger() { stop(); }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(WaitMs))
            process_.kill();
        process_.waitForFinished(WaitMs);
    }

    // The next standard-output line that starts with prefix (earlier lines are skipped).
    std::optional<std::string> line(const std::string& prefix)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(WaitMs);
        while (Clock::now() < until) {
            while (process_.canReadLine()) {
                std::string l = process_.readLine().trimmed().toStdString();
                if (l.rfind(prefix, 0) == 0)
                    return l;
            }
            if (process_.state() == QProcess::NotRunning && !process_.canReadLine())
                return std::nullopt;
            process_.waitForReadyRead(100);
        }
        return std::nullopt;
    }

    bool ready() { return line("pavo-messenger: ready").has_value(); }

    int exitCode()
    {
        process_.waitForFinished(WaitMs);
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

private:
    QProcess process_;
};

struct Frame
{
    Kind kind;
    std::uint32_t status;
    std::string text;
};

struct Reply
{
    std::uint32_t result = 0xdead;
    std::vector<std::string> notes; // notifications that came before the result
    bool has(const std::string& text) const
    {
        return std::find(notes.begin(), notes.end(), text) != notes.end();
    }
    bool hasPrefix(const std::string& prefix) const
    {
        return std::any_of(notes.begin(), notes.end(),
                           [&](const std::string& n) { return n.rfind(prefix, 0) == 0; });
    }
};

// A node program's side of the endpoint, blocking with a deadline.
class Program
{
public:
    explicit Program(const std::string& runtimeFolder)
    {
        const std::string path = ClientWire::endpointPath(runtimeFolder);
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Program() { close(); }

    bool connected() const { return connected_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    void sendBytes(const std::vector<std::uint8_t>& bytes)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            at += std::size_t(n);
        }
    }

    // The attach statuses that arrive until `last` (or the deadline).
    std::vector<std::uint32_t> attach(std::uint32_t last = ClientWire::AttachSuccess)
    {
        sendBytes(ClientWire::encodeDiscover());
        return statusesUntil(last);
    }
    std::vector<std::uint32_t> statusesUntil(std::uint32_t last)
    {
        std::vector<std::uint32_t> out;
        while (auto f = next(Kind::Attach)) {
            out.push_back(f->status);
            if (f->status == last)
                break;
        }
        return out;
    }

    Reply command(const std::string& text)
    {
        sendBytes(ClientWire::encodeText(Kind::Command, text));
        Reply reply;
        while (auto f = read()) {
            if (f->kind == Kind::Result) {
                reply.result = f->status;
                break;
            }
            if (f->kind == Kind::Notification)
                reply.notes.push_back(f->text);
        }
        return reply;
    }

    // Waits for a notification with exactly this text, wherever it arrived since the last
    // wait for it; it is consumed.
    bool waitFor(const std::string& text)
    {
        for (;;) {
            const auto it = std::find(pending_.begin(), pending_.end(), text);
            if (it != pending_.end()) {
                pending_.erase(it);
                return true;
            }
            if (!read())
                return false;
        }
    }

    // Repeats a query until its reply holds expected.
    bool eventually(const std::string& command, const std::string& expected)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(WaitMs);
        while (Clock::now() < until) {
            if (this->command(command).has(expected))
                return true;
            ::usleep(20000);
        }
        return false;
    }

    // True when the client closed the connection.
    bool closedByPeer()
    {
        while (read()) {
        }
        return eof_;
    }

    std::vector<std::string> pending() const { return pending_; }

private:
    std::optional<Frame> next(Kind kind)
    {
        while (auto f = read()) {
            if (f->kind == kind)
                return f;
        }
        return std::nullopt;
    }

    std::optional<Frame> read()
    {
        const auto until = Clock::now() + std::chrono::milliseconds(WaitMs);
        for (;;) {
            const auto r = ClientWire::parse(buffer_);
            if (r.status == ClientWire::Parse::Bad) {
                ADD_FAILURE() << "the client sent a bad frame";
                return std::nullopt;
            }
            if (r.status == ClientWire::Parse::Complete) {
                Frame f{r.frame.kind, r.frame.status, std::string(r.frame.text)};
                buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(r.size));
                if (f.kind == Kind::Notification)
                    pending_.push_back(f.text);
                return f;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (eof_ || left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
                return std::nullopt;
            std::uint8_t chunk[65536];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                eof_ = true;
                return std::nullopt;
            }
            buffer_.insert(buffer_.end(), chunk, chunk + n);
        }
    }

    int fd_ = -1;
    bool connected_ = false;
    bool eof_ = false;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::string> pending_;
};

const std::vector<std::uint32_t> Attached = {ClientWire::AttachPendingAuthorization,
                                             ClientWire::AttachSuccess};

class LocalMessengerTest : public ::testing::Test
{
protected:
    std::string runtime(const std::string& user) const { return dir_.file(user); }

    std::string writeConfig(const std::string& name, const std::string& text)
    {
        const std::string path = dir_.file(name);
        std::ofstream(path) << text;
        return path;
    }

    // A program of user that is attached and has created App.
    std::unique_ptr<Program> attachedWithApp(const std::string& user)
    {
        auto p = std::make_unique<Program>(runtime(user));
        EXPECT_TRUE(p->connected()) << user;
        EXPECT_EQ(p->attach(), Attached) << user;
        EXPECT_TRUE(p->command("CREATE APPLICATION " + App).has("CREATE APPLICATION " + App));
        return p;
    }

    TempDir dir_;
};

TEST_F(LocalMessengerTest, AttachAnswersFollowEachUsersSetting)
{
    const auto config = writeConfig("users.ini", "[alice]\nruntime = alice\n"
                                                 "[rob]\nruntime = rob\nattach = refuse\n"
                                                 "[una]\nruntime = una\nattach = unavailable\n"
                                                 "available-after = 200\n");
    Messenger messenger({"--local", config});
    ASSERT_TRUE(messenger.ready());

    Program alice(runtime("alice"));
    ASSERT_TRUE(alice.connected());
    EXPECT_EQ(alice.command("SEARCH FRIENDS").result, 0u) << "not attached yet";
    EXPECT_EQ(alice.attach(), Attached);
    EXPECT_TRUE(alice.waitFor("CURRENTUSERHANDLE alice"));
    EXPECT_TRUE(alice.waitFor("USERSTATUS ONLINE"));

    Program rob(runtime("rob"));
    EXPECT_EQ(rob.attach(ClientWire::AttachRefused),
              (std::vector<std::uint32_t>{ClientWire::AttachPendingAuthorization,
                                          ClientWire::AttachRefused}));
    const Reply refused = rob.command("SEARCH FRIENDS");
    EXPECT_EQ(refused.result, 0u);
    EXPECT_TRUE(refused.notes.empty());

    // Not available, then available: the program discovers again and is let in.
    Program una(runtime("una"));
    EXPECT_EQ(una.attach(ClientWire::AttachNotAvailable),
              std::vector<std::uint32_t>{ClientWire::AttachNotAvailable});
    EXPECT_EQ(una.statusesUntil(ClientWire::AttachAvailable),
              std::vector<std::uint32_t>{ClientWire::AttachAvailable});
    EXPECT_EQ(una.attach(), Attached);
    EXPECT_EQ(una.command("GET CURRENTUSERHANDLE").result, 1u);
}

TEST_F(LocalMessengerTest, QueriesAnswerBeforeTheResultAndBadCommandsAreNotTaken)
{
    const auto config =
        writeConfig("users.ini", "[alice]\nruntime = alice\ncontacts = bob, carol,dave\n"
                                 "[bob]\nruntime = bob\npresence = away\n"
                                 "[carol]\nruntime = carol\npresence = invisible\n");
    Messenger messenger({"--local", config});
    ASSERT_TRUE(messenger.ready());
    Program alice(runtime("alice"));
    ASSERT_EQ(alice.attach(), Attached);

    EXPECT_TRUE(alice.eventually("GET USER bob ONLINESTATUS", "USER bob ONLINESTATUS AWAY"));
    struct Case
    {
        std::string command;
        std::string reply;
    };
    const std::vector<Case> taken = {
        {"SEARCH FRIENDS", "USERS bob, carol, dave"},
        {"search friends", "USERS bob, carol, dave"},
        {"GET CURRENTUSERHANDLE", "CURRENTUSERHANDLE alice"},
        {"GET USERSTATUS", "USERSTATUS ONLINE"},
        {"GET USER carol ONLINESTATUS", "USER carol ONLINESTATUS OFFLINE"},
        {"GET USER dave ONLINESTATUS", "USER dave ONLINESTATUS OFFLINE"},
        {"GET USER alice ONLINESTATUS", "USER alice ONLINESTATUS ONLINE"},
        {"CREATE APPLICATION " + App, "CREATE APPLICATION " + App},
        {"GET APPLICATION " + App + " CONNECTABLE", "APPLICATION " + App + " CONNECTABLE "},
        {"ALTER APPLICATION " + App + " WRITE bob:7 00", "ERROR 9901 WRITE: no stream bob:7"},
        {"ALTER APPLICATION other CONNECT bob",
         "ERROR 9901 application other is not created by this program"},
        {"PING", "PONG"},
    };
    for (const auto& c : taken) {
        SCOPED_TRACE(c.command);
        const Reply r = alice.command(c.command);
        EXPECT_EQ(r.result, 1u);
        EXPECT_TRUE(r.has(c.reply)) << (r.notes.empty() ? "(nothing)" : r.notes.front());
    }

    const std::vector<std::string> garbage = {
        "",
        "HELLO",
        "SEARCH",
        "SEARCH FRIENDS NOW",
        "GET USER",
        "GET USER bob",
        "GET APPLICATION " + App + " CONNECTABLE extra",
        "ALTER APPLICATION " + App + " READ bob",
        "ALTER APPLICATION " + App + " READ bob:x",
        "ALTER APPLICATION " + App + " DISCONNECT :3",
        "ALTER APPLICATION " + App + " FLY bob:1",
        "CREATE APPLICATION",
        "\xff\xfe\x01",
        std::string(200000, 'A'),
    };
    for (const auto& text : garbage) {
        SCOPED_TRACE(text.substr(0, 40));
        const Reply r = alice.command(text);
        EXPECT_EQ(r.result, 0u);
        EXPECT_TRUE(r.notes.empty());
    }
    EXPECT_TRUE(alice.command("GET APPLICATION " + App + " CONNECTABLE")
                    .has("APPLICATION " + App + " CONNECTABLE "));
}

TEST_F(LocalMessengerTest, BadFramesCloseOnlyThatConnection)
{
    const auto config = writeConfig("users.ini", "[alice]\nruntime = alice\n");
    Messenger messenger({"--local", config});
    ASSERT_TRUE(messenger.ready());
    const std::vector<std::vector<std::uint8_t>> bad = {
        {'X', 0, 0, 0, 0},
        {'C', 1, 0, 0x10, 0}, // 1 MiB + 1 announced
        {'C', 3, 0, 0, 0, 'G', 'E', 'T'},
        {'D', 1, 0, 0, 0, 0},
    };
    for (const auto& bytes : bad) {
        Program p(runtime("alice"));
        ASSERT_EQ(p.attach(), Attached);
        p.sendBytes(bytes);
        EXPECT_TRUE(p.closedByPeer());
    }
    Program after(runtime("alice"));
    ASSERT_EQ(after.attach(), Attached);
    EXPECT_TRUE(after.command("PING").has("PONG"));
}

TEST_F(LocalMessengerTest, StreamCarriesWritesInOrderAndDisconnects)
{
    const auto config = writeConfig("users.ini", "[alice]\nruntime = alice\ncontacts = bob carol\n"
                                                 "[bob]\nruntime = bob\ncontacts = alice\n"
                                                 "[carol]\nruntime = carol\n");
    Messenger messenger({"--local", config});
    ASSERT_TRUE(messenger.ready());
    auto alice = attachedWithApp("alice");
    auto bob = attachedWithApp("bob");
    Program carol(runtime("carol"));
    ASSERT_EQ(carol.attach(), Attached);
    EXPECT_EQ(carol.command("CREATE APPLICATION PAVO000other").result, 1u);

    const std::string connectable = "GET APPLICATION " + App + " CONNECTABLE";
    ASSERT_TRUE(alice->eventually(connectable, "APPLICATION " + App + " CONNECTABLE bob"));
    // carol has another application: she can be neither listed nor connected.
    EXPECT_TRUE(alice->command("ALTER APPLICATION " + App + " CONNECT carol").result == 1u);
    EXPECT_TRUE(alice->waitFor("ERROR 9901 CONNECT: user carol has not created " + App));

    const std::string alter = "ALTER APPLICATION " + App + " ";
    EXPECT_TRUE(alice->command(alter + "CONNECT bob").has(alter + "CONNECT bob"));
    EXPECT_TRUE(alice->waitFor("APPLICATION " + App + " STREAMS bob:1"));
    EXPECT_TRUE(bob->waitFor("APPLICATION " + App + " STREAMS alice:1"));

    // The empty list comes after the result: a program clears its "may write" mark when the
    // command returns, and an earlier empty list would leave it waiting forever.
    const Reply first = alice->command(alter + "WRITE bob:1 0a0b");
    EXPECT_EQ(first.result, 1u);
    EXPECT_TRUE(first.has(alter + "WRITE bob:1"));
    EXPECT_FALSE(first.has("APPLICATION " + App + " SENDING"));
    EXPECT_TRUE(alice->waitFor("APPLICATION " + App + " SENDING bob:1=4"));
    EXPECT_TRUE(alice->waitFor("APPLICATION " + App + " SENDING"));

    // Writes that follow each other without waiting still arrive whole and in order.
    const std::vector<std::string> writes = {"0a0b", "ff", std::string(65000, 'c'), "01"};
    for (std::size_t i = 1; i < writes.size(); ++i)
        EXPECT_EQ(alice->command(alter + "WRITE bob:1 " + writes[i]).result, 1u);
    EXPECT_TRUE(bob->waitFor("APPLICATION " + App + " RECEIVED alice:1=4"));
    for (const auto& data : writes) {
        const Reply r = bob->command(alter + "READ alice:1");
        EXPECT_TRUE(r.has(alter + "READ alice:1 " + data)) << data.substr(0, 10);
    }
    EXPECT_TRUE(
        bob->command(alter + "READ alice:1").has("ERROR 9901 READ: no data waiting on alice:1"));

    // bob's read reply names "alice:1" where alice's write named "bob:1": a write whose reply
    // would not fit into a frame is refused rather than lost on the way.
    const std::size_t fits = ClientWire::MaxPayload - (alter + "WRITE bob:1 ").size() - 2;
    const std::string largest(fits, 'd');
    EXPECT_TRUE(alice->command(alter + "WRITE bob:1 " + largest + "d")
                    .has("ERROR 9901 WRITE: the data would not fit into a read reply"));
    EXPECT_EQ(alice->command(alter + "WRITE bob:1 " + largest).result, 1u);
    EXPECT_TRUE(bob->waitFor("APPLICATION " + App + " RECEIVED alice:1=" + std::to_string(fits)));
    EXPECT_TRUE(bob->command(alter + "READ alice:1").has(alter + "READ alice:1 " + largest));

    EXPECT_TRUE(bob->command(alter + "DISCONNECT alice:1").has(alter + "DISCONNECT alice:1"));
    EXPECT_TRUE(alice->waitFor("APPLICATION " + App + " STREAMS"));
    EXPECT_TRUE(bob->waitFor("APPLICATION " + App + " STREAMS"));
    EXPECT_TRUE(alice->command(alter + "WRITE bob:1 00").has("ERROR 9901 WRITE: no stream bob:1"));
}

TEST_F(LocalMessengerTest, ProgramThatEndsLeavesNoStreamOrApplication)
{
    const auto config = writeConfig("users.ini", "[alice]\nruntime = alice\ncontacts = bob\n"
                                                 "[bob]\nruntime = bob\ncontacts = alice\n");
    Messenger messenger({"--local", config});
    ASSERT_TRUE(messenger.ready());
    auto alice = attachedWithApp("alice");
    auto bob = attachedWithApp("bob");
    const std::string connectable = "GET APPLICATION " + App + " CONNECTABLE";
    ASSERT_TRUE(alice->eventually(connectable, "APPLICATION " + App + " CONNECTABLE bob"));
    alice->command("ALTER APPLICATION " + App + " CONNECT bob");
    ASSERT_TRUE(alice->waitFor("APPLICATION " + App + " STREAMS bob:1"));

    bob->close();
    EXPECT_TRUE(alice->waitFor("APPLICATION " + App + " STREAMS"));
    EXPECT_TRUE(alice->eventually(connectable, "APPLICATION " + App + " CONNECTABLE "));

    // bob's next program may create the same application again.
    auto bob2 = attachedWithApp("bob");
    EXPECT_TRUE(alice->eventually(connectable, "APPLICATION " + App + " CONNECTABLE bob"));
}

TEST_F(LocalMessengerTest, ReceivedListsStreamsByOldestUnreadDataAndFollowsTheReadResult)
{
    const auto config = writeConfig("users.ini", "[alice]\nruntime = alice\ncontacts = bob carol\n"
                                                 "[bob]\nruntime = bob\ncontacts = alice\n"
                                                 "[carol]\nruntime = carol\ncontacts = alice\n");
    Messenger messenger({"--local", config});
    ASSERT_TRUE(messenger.ready());
    auto alice = attachedWithApp("alice");
    auto bob = attachedWithApp("bob");
    auto carol = attachedWithApp("carol");
    const std::string alter = "ALTER APPLICATION " + App + " ";
    const std::string received = "APPLICATION " + App + " RECEIVED";
    ASSERT_TRUE(alice->eventually("GET APPLICATION " + App + " CONNECTABLE",
                                  "APPLICATION " + App + " CONNECTABLE bob carol"));
    alice->command(alter + "CONNECT bob");
    alice->command(alter + "CONNECT carol");
    ASSERT_TRUE(alice->waitFor("APPLICATION " + App + " STREAMS bob:1 carol:2"));
    ASSERT_TRUE(carol->waitFor("APPLICATION " + App + " STREAMS alice:2"));

    bob->command(alter + "WRITE alice:1 b1");
    ASSERT_TRUE(alice->waitFor(received + " bob:1=2"));
    carol->command(alter + "WRITE alice:2 c1");
    ASSERT_TRUE(alice->waitFor(received + " bob:1=2 carol:2=2"));
    bob->command(alter + "WRITE alice:1 b2");
    ASSERT_TRUE(alice->waitFor(received + " bob:1=4 carol:2=2"));

    // After bob's first write is read, carol's data is the oldest: a node that reads the first
    // item only must not serve bob for ever.
    const Reply r = alice->command(alter + "READ bob:1");
    EXPECT_TRUE(r.has(alter + "READ bob:1 b1"));
    EXPECT_FALSE(r.hasPrefix(received)) << "the rest is announced after the result";
    EXPECT_TRUE(alice->waitFor(received + " carol:2=2 bob:1=2"));
}

TEST_F(LocalMessengerTest, PresenceAndContactChangesReachEveryProgramConcerned)
{
    const auto config = writeConfig("users.ini", "[alice]\nruntime = alice\ncontacts = bob\n"
                                                 "[bob]\nruntime = bob\ncontacts = alice\n");
    Messenger messenger({"--local", config});
    ASSERT_TRUE(messenger.ready());
    auto alice = attachedWithApp("alice");
    auto bob = attachedWithApp("bob");
    Program bob2(runtime("bob"));
    ASSERT_EQ(bob2.attach(), Attached);
    ASSERT_TRUE(alice->eventually("GET APPLICATION " + App + " CONNECTABLE",
                                  "APPLICATION " + App + " CONNECTABLE bob"));

    EXPECT_TRUE(bob->command("SET USERSTATUS away").has("USERSTATUS AWAY"));
    EXPECT_TRUE(bob2.waitFor("USERSTATUS AWAY"));
    EXPECT_TRUE(alice->waitFor("USER bob ONLINESTATUS AWAY"));
    EXPECT_TRUE(bob->command("SET USERSTATUS INVISIBLE").has("USERSTATUS INVISIBLE"));
    EXPECT_TRUE(alice->waitFor("USER bob ONLINESTATUS OFFLINE"));
    EXPECT_TRUE(alice->command("GET APPLICATION " + App + " CONNECTABLE")
                    .has("APPLICATION " + App + " CONNECTABLE "));
    EXPECT_TRUE(bob->command("SET USERSTATUS sleepy").hasPrefix("ERROR 9901"));

    const Reply added = alice->command("SET USER erin BUDDYSTATUS 2 please add me");
    EXPECT_TRUE(added.has("USER erin BUDDYSTATUS 3"));
    EXPECT_TRUE(alice->command("SEARCH FRIENDS").has("USERS bob, erin"));

    // An application belongs to the program that created it.
    EXPECT_TRUE(bob2.command("CREATE APPLICATION " + App).hasPrefix("ERROR 9901"));
    EXPECT_TRUE(bob2.command("DELETE APPLICATION " + App).hasPrefix("ERROR 9901"));
}

TEST_F(LocalMessengerTest, BadConfigurationStopsStartWithTheLine)
{
    const std::vector<std::string> bad = {
        "contacts = bob\n",
        "[alice]\nruntime = a\n[alice]\nruntime = b\n",
        "[alice]\nruntime = a\npresence = sleepy\n",
        "[al ice]\n",
        "[alice]\nattach = maybe\n",
        "[alice]\nruntime = same\n[bob]\nruntime = same\n",
    };
    for (const auto& text : bad) {
        SCOPED_TRACE(text);
        Messenger messenger({"--local", writeConfig("bad.ini", text)});
        EXPECT_FALSE(messenger.ready());
        EXPECT_NE(messenger.exitCode(), 0);
    }
}

} // namespace
