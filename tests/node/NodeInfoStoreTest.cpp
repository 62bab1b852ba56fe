#include "node/NodeInfoStore.h"

#include "app/NodeSettings.h"
#include "app/ShellUtil.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

const plat::SystemTime kStamp{2024, 5, 3, 15, 9, 41, 7, 250};

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const void* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
}

nodeinfo::FileImage imageOf(const std::string& nodeName)
{
    CNodeInfo info;
    info.nodeName = nodeName;
    return nodeinfo::encode(info);
}

std::vector<std::string> namesOf(const std::vector<CNodeInfo>& list)
{
    std::vector<std::string> names;
    for (const CNodeInfo& info : list)
        names.push_back(info.nodeName);
    return names;
}

// One node's settings in its own folder; its store finds no catalog entries unless told.
struct Node
{
    explicit Node(const std::string& name) : settings(dir.path())
    {
        settings.setNodeName(name);
        settings.setPartyName("party");
        plat::makeFolders(settings.getSendFolder());
        plat::makeFolders(settings.getRecvFolder());
    }

    NodeInfoStore store(NodeInfoStore::EntryLookup lookup = noEntries)
    {
        return NodeInfoStore(settings, std::move(lookup), [] { return kStamp; });
    }

    // Places a published image where the catalog delivers it: RECV/<origin>/nodeInfomation.nod.
    void receive(const std::string& origin, const nodeinfo::FileImage& image)
    {
        const std::string folder = plat::joinPath(settings.getRecvFolder(), origin);
        plat::makeFolders(folder);
        writeFile(plat::joinPath(folder, NodeInfoStore::kFileName), image.data(), image.size());
    }

    static std::optional<CatalogRecord> noEntries(const std::string&, const std::string&)
    {
        return std::nullopt;
    }

    TempDir dir;
    NodeSettings settings;
};

TEST(NodeInfoStore, ContactKeysRoundTripThroughTheSettingsFile)
{
    Node node("NodeA");
    NodeInfoStore store = node.store();
    store.own().skypeId = "alice.skype";
    store.own().mailAddress = "alice@example.org";
    store.own().presence = CNodeInfo::PRESENCE_ABSENT;
    store.own().information = "席を外しています";
    ASSERT_TRUE(store.saveOwnInfo());

    const plat::IniFile ini(node.settings.iniFileName());
    EXPECT_EQ(ini.getString("SYSTEM", "NODESTATUS", ""), "2");
    // CP932 bytes of "席を" as lower-case hexadecimal pairs.
    EXPECT_EQ(ini.getString("SYSTEM", "INFOMATION", "", 4096).substr(0, 8), "90c882f0");

    NodeInfoStore again = node.store();
    again.loadOwnInfo();
    EXPECT_EQ(again.own().skypeId, "alice.skype");
    EXPECT_EQ(again.own().mailAddress, "alice@example.org");
    EXPECT_EQ(again.own().presence, CNodeInfo::PRESENCE_ABSENT);
    EXPECT_EQ(again.own().information, "席を外しています");
}

TEST(NodeInfoStore, ContactKeysAsFoundInTheFile)
{
    struct Case
    {
        const char* status;
        const char* information;
        int presence;
        std::string expectedInformation;
    };
    const Case cases[] = {
        {nullptr, nullptr, CNodeInfo::PRESENCE_CONTACTABLE, ""},
        {"1", "6869", CNodeInfo::PRESENCE_NOT_CONTACTABLE, "hi"},
        {"9", "686", CNodeInfo::PRESENCE_CONTACTABLE, ""},   // odd digit count: empty text
        {"-1", "zz41", CNodeInfo::PRESENCE_CONTACTABLE, ""}, // "zz" decodes to a zero byte
    };
    for (const Case& c : cases) {
        Node node("NodeA");
        plat::IniFile ini(node.settings.iniFileName());
        if (c.status)
            ini.writeString("SYSTEM", "NODESTATUS", c.status);
        if (c.information)
            ini.writeString("SYSTEM", "INFOMATION", c.information);
        NodeInfoStore store = node.store();
        store.loadOwnInfo();
        EXPECT_EQ(store.own().presence, c.presence) << (c.status ? c.status : "missing");
        EXPECT_EQ(store.own().information, c.expectedInformation);
    }
}

TEST(NodeInfoStore, AFullLengthInformationTextReadsBackWhole)
{
    Node node("NodeA");
    NodeInfoStore store = node.store();
    store.own().information = std::string(1100, 'x');
    ASSERT_TRUE(store.saveOwnInfo());
    NodeInfoStore again = node.store();
    again.loadOwnInfo();
    EXPECT_EQ(again.own().information, std::string(1024, 'x'));
}

TEST(NodeInfoStore, NeighboursAreTheDistinctConnectionNames)
{
    struct Case
    {
        std::vector<std::string> connections;
        std::vector<std::string> neighbours;
    };
    const Case cases[] = {
        {{"alpha", "beta", "gamma"}, {"alpha", "beta", "gamma"}},
        {{"alpha", "alpha", "beta"}, {"alpha", "beta"}},
        {{"alpha", "", "beta"}, {"alpha", "beta"}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        Node node("NodeA");
        for (const std::string& name : c.connections)
            node.settings.connections().append({name, "TCP", "host", {}});
        NodeInfoStore store = node.store();
        store.buildOwnRecord();
        EXPECT_EQ(store.own().neighbours, c.neighbours);
        const auto read = nodeinfo::decode(store.image());
        ASSERT_TRUE(read);
        EXPECT_EQ(read->neighbours, c.neighbours);
        EXPECT_EQ(read->version, getVersionText());
        EXPECT_EQ(read->timeStamp, kStamp);
    }
}

TEST(NodeInfoStore, OwnFileIsWrittenOnlyForANamedNode)
{
    Node unnamed("");
    unnamed.receive("NodeB", imageOf("NodeB"));
    NodeInfoStore quiet = unnamed.store();
    const auto list = quiet.refresh();
    EXPECT_FALSE(plat::fileExists(quiet.ownFilePath()));
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"", "NodeB"}));

    Node named("NodeA");
    NodeInfoStore store = named.store();
    store.refresh();
    const auto written = readFile(store.ownFilePath());
    ASSERT_EQ(written.size(), 9124u);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), store.image().begin()));
}

TEST(NodeInfoStore, AbsencePublishedByOneNodeIsReadByAnother)
{
    Node a("NodeA");
    plat::IniFile(a.settings.iniFileName()).writeString("SYSTEM", "NODESTATUS", "2");
    NodeInfoStore publisher = a.store();
    publisher.loadOwnInfo();
    publisher.refresh();

    Node b("NodeB");
    nodeinfo::FileImage image{};
    const auto bytes = readFile(publisher.ownFilePath());
    ASSERT_EQ(bytes.size(), image.size());
    std::copy(bytes.begin(), bytes.end(), image.begin());
    b.receive("NodeA", image);
    const auto list = b.store().loadNodeList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].nodeName, "NodeA");
    EXPECT_EQ(presenceText(list[1].presence), "不在");
}

TEST(NodeInfoStore, UnreadableFilesAreLeftOutAndTheRestListedByName)
{
    Node node("Own");
    node.receive("zeta", imageOf("zeta"));
    node.receive("beta", imageOf("beta"));
    plat::makeFolders(plat::joinPath(node.settings.getRecvFolder(), "empty"));
    const std::string shortFolder = plat::joinPath(node.settings.getRecvFolder(), "short");
    plat::makeFolders(shortFolder);
    writeFile(plat::joinPath(shortFolder, NodeInfoStore::kFileName), "abc", 3);
    plat::makeFolders(plat::joinPath(plat::joinPath(node.settings.getRecvFolder(), "dir"),
                                     NodeInfoStore::kFileName));
    writeFile(plat::joinPath(node.settings.getRecvFolder(), "plainfile"), "x", 1);

    const auto list = node.store().loadNodeList();
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"", "beta", "zeta"}));
}

TEST(NodeInfoStore, RouteComesFromTheCatalogEntrysHopList)
{
    Node node("NodeA");
    NodeContext context(node.settings);
    CCatalog catalog(context, true);
    const auto received = [&](const std::string& origin, std::int32_t hops) {
        CatalogRecord r = makeTestRecord(origin, "party", NodeInfoStore::kFileName, 9124);
        for (std::int32_t i = 0; i < hops && i < 10; ++i)
            r.setHopCp932(std::size_t(i), "hop" + std::to_string(i));
        r.setHopCount(hops);
        catalog::stampChecksum(r);
        catalog.mergeRecord(r);
        node.receive(origin, imageOf(origin));
    };
    received("far", 2);
    received("near", 0);
    node.receive("unknown", imageOf("unknown"));

    const auto list = node.store([&](const std::string& origin, const std::string& file) {
                              CatalogRecord entry;
                              return catalog.hasEntry(origin, file, &entry)
                                         ? std::optional<CatalogRecord>(entry)
                                         : std::nullopt;
                          })
                          .loadNodeList();
    ASSERT_EQ(namesOf(list), (std::vector<std::string>{"", "far", "near", "unknown"}));
    EXPECT_EQ(list[1].route, (std::vector<std::string>{"hop0", "hop1"}));
    EXPECT_TRUE(list[2].route.empty());
    EXPECT_TRUE(list[3].route.empty()); // no catalog entry
}

TEST(NodeInfoStore, HopCountsARecordCannotCarryGiveNoRoute)
{
    CatalogRecord entry = makeTestRecord("far", "party", NodeInfoStore::kFileName, 9124);
    for (std::size_t i = 0; i < 10; ++i)
        entry.setHopCp932(i, "h" + std::to_string(i));
    for (const std::int32_t hops : {-1, 11, 0x7FFFFFFF}) {
        entry.setHopCount(hops);
        EXPECT_TRUE(NodeInfoStore::routeOf(entry).empty()) << hops;
    }
    entry.setHopCount(10);
    EXPECT_EQ(NodeInfoStore::routeOf(entry).size(), 10u);
}

} // namespace
