#include "support/NodeProcess.h"
#include "support/SettingsFixture.h"
#include "support/TempDir.h"

#include "catalog/CatalogRecord.h"
#include "node/NodeInfoStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {
// Twenty times faster: the node file is published every 1.5 s, a connection says hello about
// every second and the send folder is scanned every ~0.3 s.
const char* const kScale = "0.05";

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

std::vector<CatalogRecord> catalogRecords(const std::string& workDir)
{
    std::ifstream in(workDir + "/CATALOG/catalog.dat", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    std::vector<CatalogRecord> records;
    for (std::size_t at = 0; at + CatalogRecord::Size <= bytes.size(); at += CatalogRecord::Size) {
        CatalogRecord r;
        std::copy_n(bytes.data() + at, CatalogRecord::Size, r.bytes.begin());
        records.push_back(r);
    }
    return records;
}

struct Node
{
    std::string name;
    std::string dir;
    int port;
    int presence;
    std::unique_ptr<NodeProcess> process;

    void configure(const std::vector<const Node*>& peers)
    {
        fs::create_directories(dir);
        std::ostringstream ini;
        ini << "[SYSTEM]\nPARTY=info\nNAME=" << name << "\nLISTENPORT=" << port
            << "\nNODESTATUS=" << presence << "\nCONNECTNUM=" << peers.size() << "\n";
        for (std::size_t i = 0; i < peers.size(); ++i)
            ini << "[REC" << i + 1 << "]\nNAME=" << peers[i]->name
                << "\nTRS=TCP\nHOSTNAME=127.0.0.1/" << peers[i]->port << "\n";
        std::ofstream(dir + "/Pavo.ini", std::ios::binary) << ini.str();
    }

    // The node list as this node's window builds it, from the node's own files: its published
    // file, the files it received and the hop lists in its catalog.
    std::vector<CNodeInfo> nodeList() const
    {
        SettingsFixture settings(dir);
        settings.nodeName = name;
        NodeInfoStore store(settings, [this](const std::string& origin, const std::string& file) {
            for (const CatalogRecord& r : catalogRecords(dir))
                if (r.originNodeUtf8() == origin && r.fileNameUtf8() == file)
                    return std::optional<CatalogRecord>(r);
            return std::optional<CatalogRecord>();
        });
        std::vector<CNodeInfo> list;
        if (auto own = NodeInfoStore::readFile(dir + "/SEND/" + NodeInfoStore::kFileName))
            list.push_back(*own);
        const auto received = store.loadNodeList();
        list.insert(list.end(), received.begin() + 1, received.end());
        return list;
    }
};

// name → (presence, route) of every node a list holds.
std::map<std::string, std::pair<int, std::vector<std::string>>>
summary(const std::vector<CNodeInfo>& list)
{
    std::map<std::string, std::pair<int, std::vector<std::string>>> out;
    for (const CNodeInfo& info : list)
        out[info.nodeName] = {info.presence, info.route};
    return out;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}
} // namespace

TEST(NodeInfoChain, EveryNodeListsTheWholeChainWithPresenceAndRoute)
{
    TempDir root;
    Node a{"A", root.file("A"), freePort(), CNodeInfo::PRESENCE_CONTACTABLE, {}};
    Node b{"B", root.file("B"), freePort(), CNodeInfo::PRESENCE_NOT_CONTACTABLE, {}};
    Node c{"C", root.file("C"), freePort(), CNodeInfo::PRESENCE_ABSENT, {}};
    a.configure({&b});
    b.configure({&a, &c});
    c.configure({&b});
    for (Node* n : {&a, &b, &c}) {
        n->process = std::make_unique<NodeProcess>(
            NodeProcess::pavoNode(n->dir, {"-D119", "-NOSKYPE"}, kScale));
        ASSERT_TRUE(n->process->start());
        ASSERT_TRUE(n->process->waitForOutput("DEBUG_MODE ON", 30s)) << n->process->errors();
    }

    using Summary = decltype(summary({}));
    const std::map<std::string, Summary> expected{
        {"A", {{"A", {0, {}}}, {"B", {1, {}}}, {"C", {2, {"B"}}}}},
        {"B", {{"B", {1, {}}}, {"A", {0, {}}}, {"C", {2, {}}}}},
        {"C", {{"C", {2, {}}}, {"A", {0, {"B"}}}, {"B", {1, {}}}}},
    };
    for (const Node* n : {&a, &b, &c}) {
        Summary seen;
        EXPECT_TRUE(waitFor(
            [&] {
                seen = summary(n->nodeList());
                return seen == expected.at(n->name);
            },
            90s))
            << n->name << " lists " << seen.size() << " nodes";
    }
    // The own neighbours are published too: B names both ends of the chain.
    const auto atA = a.nodeList();
    for (const CNodeInfo& info : atA) {
        if (info.nodeName == "B") {
            EXPECT_EQ(info.neighbours, (std::vector<std::string>{"A", "C"}));
        }
    }

    for (Node* n : {&a, &b, &c}) {
        n->process->signal(SIGTERM);
        EXPECT_EQ(n->process->waitExit(60s), 0) << n->name << ": " << n->process->errors();
    }
}
