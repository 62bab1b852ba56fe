#include "support/MultiNode.h"
#include "support/TempDir.h"

#include "control/ControlClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace multi;
namespace fs = std::filesystem;

namespace {
const char* const kScale = "0.05";

struct CliResult
{
    int status = -1;
    std::string out;
    std::string err;
};

// Nodes set up and driven only through "pavo <command>", each command a process of its own in
// the node's runtime folder, as a user in a second terminal would run it.
class ControlCli : public ::testing::Test
{
protected:
    TempDir root;
    MultiNode a{"A", root.file("A"), freePort()};
    MultiNode b{"B", root.file("B"), freePort()};
    int runs = 0;

    NodeProcess::Options cliOptions(const MultiNode& node, std::vector<std::string> args)
    {
        NodeProcess::Options options = NodeProcess::pavoNode(node.dir, std::move(args), kScale);
        options.workDir = root.file("cli-" + std::to_string(++runs));
        // The node's messages in the interface's own language, whatever the machine's.
        options.env["LANGUAGE"] = "ja";
        return options;
    }

    CliResult pavo(const MultiNode& node, std::vector<std::string> args)
    {
        NodeProcess cli(cliOptions(node, std::move(args)));
        CliResult r;
        if (!cli.start())
            return r;
        r.status = cli.waitExit(60s);
        r.out = cli.output();
        r.err = cli.errors();
        return r;
    }

    QJsonObject json(const MultiNode& node, std::vector<std::string> args)
    {
        args.push_back("--json");
        const CliResult r = pavo(node, std::move(args));
        const auto lines = r.out.substr(0, r.out.find('\n'));
        return QJsonDocument::fromJson(QByteArray::fromStdString(lines))
            .object()
            .value(QStringLiteral("result"))
            .toObject();
    }

    // The state of file from origin in node's catalog ("" when it lists none).
    std::string stateAt(const MultiNode& node, const std::string& file)
    {
        const QJsonArray entries =
            json(node, {"ls", file}).value(QStringLiteral("entries")).toArray();
        return entries.isEmpty()
                   ? std::string()
                   : entries[0].toObject().value(QStringLiteral("state")).toString().toStdString();
    }

    bool connected(const MultiNode& node)
    {
        const QJsonArray c = json(node, {"status"}).value(QStringLiteral("connections")).toArray();
        return !c.isEmpty() && c[0].toObject().value(QStringLiteral("state")).toString() ==
                                   QStringLiteral("connected");
    }

    void startBlank(MultiNode& node)
    {
        fs::create_directories(node.dir);
        ASSERT_NO_FATAL_FAILURE(node.start(kScale));
        ASSERT_TRUE(node.process->waitForOutput("control socket:", 30s)) << node.process->errors();
    }

    void TearDown() override
    {
        for (MultiNode* n : {&a, &b})
            n->stopIfRunning();
    }
};
} // namespace

TEST_F(ControlCli, TwoNodesSetUpFromNothingShareAFileAndItsWithdrawal)
{
    ASSERT_NO_FATAL_FAILURE(startBlank(a));
    ASSERT_NO_FATAL_FAILURE(startBlank(b));

    // A node without names stays off-line, with the window's message.
    CliResult r = pavo(a, {"online"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ノード名が未設定です"), std::string::npos) << r.err;

    for (auto [node, peer] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
        r = pavo(*node,
                 {"set", "party=cli", "node=" + node->name, "port=" + std::to_string(node->port)});
        ASSERT_EQ(r.status, 0) << r.err;
        r = pavo(*node, {"connections", "add", peer->name,
                         "127.0.0.1/" + std::to_string(peer->port), "--comment", "loopback"});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(pavo(*node, {"online"}).status, 0);
    }
    const QJsonObject status = json(a, {"status"});
    EXPECT_EQ(status.value(QStringLiteral("party")).toString(), QStringLiteral("cli"));
    EXPECT_TRUE(status.value(QStringLiteral("online")).toBool());
    ASSERT_TRUE(waitFor([&] { return connected(a) && connected(b); }, 60s)) << a.process->output();

    NodeProcess watch(cliOptions(b, {"watch", "--json"}));
    ASSERT_TRUE(watch.start());
    ASSERT_TRUE(watch.waitForOutput("\"ok\":true", 30s)) << watch.errors();
    // One client watches at a time; the second is told so, and the first keeps watching.
    r = pavo(b, {"watch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("監視中"), std::string::npos) << r.err;

    const std::string content = pattern(700 * 1024 + 3, 7);
    writeFile(root.file("outside/report.bin"), content);
    r = pavo(a, {"add", "--copy", root.file("outside/report.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(a.file("SEND/report.bin")), content);

    ASSERT_TRUE(waitFor([&] { return stateAt(b, "report.bin") == "complete"; }, 90s))
        << b.process->output();
    EXPECT_EQ(readFile(b.file("RECV/A/report.bin")), content);
    EXPECT_TRUE(watch.waitForOutput("\"event\":\"arrived\"", 30s)) << watch.output();
    EXPECT_EQ(stateAt(a, "report.bin"), "own");
    // A connected connection tells its current rates both ways (an unconnected one has none).
    for (const MultiNode* node : {&a, &b}) {
        const QJsonObject c =
            json(*node, {"status"}).value(QStringLiteral("connections")).toArray()[0].toObject();
        EXPECT_TRUE(c.value(QStringLiteral("rate")).isDouble()) << node->name;
        EXPECT_TRUE(c.value(QStringLiteral("upload_rate")).isDouble()) << node->name;
    }

    // Taking out at B; the own file cannot be taken out at A.
    fs::create_directories(root.file("taken"));
    r = pavo(b, {"get", "report.bin", "--to", root.file("taken")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(root.file("taken/report.bin")), content);
    EXPECT_EQ(pavo(a, {"get", "report.bin"}).status, 1);

    // The window asks whether to withdraw everywhere; here a flag answers.
    r = pavo(a, {"rm", "report.bin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--everywhere"), std::string::npos) << r.err;
    ASSERT_EQ(pavo(a, {"rm", "--everywhere", "report.bin"}).status, 0);
    ASSERT_TRUE(waitFor([&] { return stateAt(b, "report.bin").empty(); }, 90s));
    EXPECT_TRUE(watch.waitForOutput("\"event\":\"deleted\"", 30s)) << watch.output();

    watch.signal(SIGINT);
    EXPECT_NE(watch.waitExit(30s), -1);
}

TEST_F(ControlCli, BadInputIsRefusedClearlyAndTheNodeKeepsRunning)
{
    a.configureWith("cli", {});
    ASSERT_NO_FATAL_FAILURE(a.start(kScale));
    ASSERT_TRUE(a.process->waitForOutput("control socket:", 30s)) << a.process->errors();

    struct Case
    {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    writeFile(root.file("in/résumé.txt"), "some text");
    writeFile(root.file("in/empty.txt"), "");
    const Case cases[] = {
        {{"frobnicate"}, 2, "not a pavo command"},
        {{"ls", "--bogus"}, 2, "unknown option"},
        {{"rm"}, 2, "missing argument"},
        {{"set", "colour=blue"}, 2, "KEY=VALUE"},
        {{"add", root.file("in/missing.bin")}, 1, "ファイル状態の取得に失敗しました"},
        {{"add", root.file("in/empty.txt")}, 1, "サイズが０のファイルは登録できません"},
        {{"add", root.file("in/résumé.txt")}, 1, "--rename"},
        {{"set", "node=a b"}, 1, "ノード名にスペースを含む名前は設定できません"},
        {{"set", "days=0"}, 1, "有効期限は1日から36500日まで"},
        {{"rm", "nothing.bin"}, 1, "という登録はありません"},
        {{"connect", "nobody"}, 1, "という接続先はありません"},
        {{"ls", "--help"}, 0, "usage: pavo ls"},
    };
    for (const Case& c : cases) {
        const CliResult r = pavo(a, c.args);
        EXPECT_EQ(r.status, c.status) << c.args.front() << ": " << r.err;
        EXPECT_NE((r.err + r.out).find(c.says), std::string::npos)
            << c.args.front() << ": " << r.err << r.out;
    }
    // Answered, the same name is registered as a copy under a name CP932 can hold.
    ASSERT_EQ(pavo(a, {"add", "--rename", root.file("in/résumé.txt")}).status, 0);
    EXPECT_EQ(readFile(a.file("SEND/resume.txt")), "some text");

    // A client of another user: the node's 0700 folder keeps it out, even with every folder
    // around it open.
    if (::getuid() == 0) {
        std::string path = a.dir + "/run/pavo/control.sock";
        for (const std::string& folder : {root.path(), a.dir, a.dir + "/run"})
            ::chmod(folder.c_str(), 0755);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            ControlClient client;
            std::string why;
            ::_exit(client.connect(path, &why) ? 0 : 1);
        }
        int wstatus = 0;
        ::waitpid(child, &wstatus, 0);
        EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 1) << wstatus;
    }

    // Without a node in the runtime folder: a clear message.
    MultiNode none{"N", root.file("N"), 0};
    fs::create_directories(none.dir + "/run");
    const CliResult r = pavo(none, {"status"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no node is running"), std::string::npos) << r.err;

    EXPECT_TRUE(a.process->running());
    EXPECT_EQ(pavo(a, {"status"}).status, 0);
}
