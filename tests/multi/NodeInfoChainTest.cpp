#include "app/NodeSettings.h"
#include "support/MultiNode.h"
#include "support/TempDir.h"

#include "node/NodeInfoStore.h"
#include "wire/CatalogRecord.h"

#include <gtest/gtest.h>

#include <map>

using namespace std::chrono_literals;
using namespace multi;

namespace {
// Twenty times faster: the node file is published every 1.5 s, a connection says hello about
// every second and the send folder is scanned every ~0.3 s.
const char* const kScale = "0.05";

struct Node : MultiNode
{
    Node(std::string nodeName, std::string folder, int listenPort, int nodePresence)
        : MultiNode(std::move(nodeName), std::move(folder), listenPort), presence(nodePresence)
    {
    }

    int presence;

    void configure(const std::vector<const MultiNode*>& peers)
    {
        MultiNode::configure("info", peers, "NODESTATUS=" + std::to_string(presence) + "\n");
    }

    // The node list as this node's window builds it, from the node's own files: its published
    // file, the files it received and the hop lists in its catalog.
    std::vector<CNodeInfo> nodeList() const
    {
        NodeSettings settings(dir);
        settings.setNodeName(name);
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

} // namespace

TEST(NodeInfoChain, EveryNodeListsTheWholeChainWithPresenceAndRoute)
{
    TempDir root;
    Node a{"A", root.file("A"), freePort(), CNodeInfo::PRESENCE_CONTACTABLE};
    Node b{"B", root.file("B"), freePort(), CNodeInfo::PRESENCE_NOT_CONTACTABLE};
    Node c{"C", root.file("C"), freePort(), CNodeInfo::PRESENCE_ABSENT};
    a.configure({&b});
    b.configure({&a, &c});
    c.configure({&b});
    for (Node* n : {&a, &b, &c})
        ASSERT_NO_FATAL_FAILURE(n->start(kScale));

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

    for (Node* n : {&a, &b, &c})
        EXPECT_EQ(n->stop(), 0) << n->name << ": " << n->process->errors();
}
