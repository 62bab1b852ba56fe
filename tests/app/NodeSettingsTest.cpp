#include "app/NodeSettings.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Writes down what the list's listener hears.
class Recorder : public ConnectionList::Listener
{
public:
    std::vector<std::string> heard;

    void connectionInserted(int index) override { heard.push_back("+" + std::to_string(index)); }
    void connectionRemoved(int index) override { heard.push_back("-" + std::to_string(index)); }
    void connectionChanged(int index) override { heard.push_back("~" + std::to_string(index)); }
};

class NodeSettingsTest : public testing::Test
{
protected:
    NodeSettingsTest()
    {
        settings.connections().append({"b", "TCP", "hostb/4000", "first"});
        settings.connections().append({"c", "TCP", "hostc", {}});
        settings.connections().append({"d", "SKYPE", "skype.d", {}});
        settings.connections().append({"d", "TCP", "skype.d", {}});
    }

    TempDir dir;
    NodeSettings settings{dir.path()};
};

} // namespace

TEST_F(NodeSettingsTest, ConnectionsReadThroughTheSettingsInterface)
{
    ASSERT_EQ(settings.getConnectCount(), 4);
    EXPECT_EQ(settings.getHostName(0), "hostb");
    EXPECT_EQ(settings.getPort(0), 4000);
    EXPECT_EQ(settings.getPort(1), 42000);
    EXPECT_EQ(settings.getComment(0), "first");
    EXPECT_EQ(settings.getSkypeId(2), "skype.d");
    EXPECT_EQ(settings.getConnectMethod(2), "SKYPE");
    EXPECT_EQ(settings.getConnectNodeName(9), "");
    EXPECT_EQ(settings.getPort(-1), 42000);
}

TEST_F(NodeSettingsTest, LookUpsMatchMethodAndHost)
{
    struct Case
    {
        int method;
        const char* host;
        const char* node;
    };
    const Case cases[] = {
        {CPropatyHotLine::kMethodTcp, "hostc", "c"},
        {CPropatyHotLine::kMethodTcp, "hostb", "b"}, // the port is no part of the host
        {CPropatyHotLine::kMethodSkype, "hostc", ""},
        {CPropatyHotLine::kMethodSkype, "skype.d", "d"},
        {7, "hostc", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(settings.findConnectNodeName(c.method, c.host), c.node) << c.host;

    EXPECT_EQ(settings.isConnectSkypeId("skype.d"), 1);
    EXPECT_EQ(settings.isConnectSkypeId("hostc"), 0);
    settings.setOnline(false);
    EXPECT_EQ(settings.isConnectSkypeId("skype.d"), 0);
}

TEST_F(NodeSettingsTest, RenameTouchesOnlyTheConnectionOfThatMethodHostAndName)
{
    Recorder recorder;
    settings.connections().setListener(&recorder);
    settings.renameConnectNode(CPropatyHotLine::kMethodSkype, "skype.d", "d", "dd");
    settings.renameConnectNode(CPropatyHotLine::kMethodTcp, "hostc", "not-c", "x");
    settings.renameConnectNode(7, "hostc", "c", "x");
    std::vector<std::string> names;
    for (const ConnectionRecord& c : settings.connections().records())
        names.push_back(c.nodeName);
    EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "dd", "d"}));
    EXPECT_EQ(recorder.heard, std::vector<std::string>{"~2"});
}

TEST_F(NodeSettingsTest, ListenerHearsEveryChangeOnce)
{
    Recorder recorder;
    ConnectionList& list = settings.connections();
    list.setListener(&recorder);
    EXPECT_EQ(list.insert(99, {"e", "TCP", "hoste", {}}), 4); // clamped to the end
    EXPECT_EQ(list.insert(-3, {"a", "TCP", "hosta", {}}), 0);
    settings.setComment(1, "first"); // unchanged: nobody is told
    settings.setComment(1, "other");
    settings.setComment(42, "nowhere");
    list.remove(0);
    list.remove(42);
    EXPECT_EQ(recorder.heard, (std::vector<std::string>{"+4", "+0", "~1", "-0"}));
    EXPECT_EQ(settings.getComment(0), "other");
    list.setListener(nullptr);
}

TEST_F(NodeSettingsTest, LongTextsAreHandedOutCutAtACharacterBoundary)
{
    std::string name;
    for (int i = 0; i < 60; ++i)
        name += "名"; // 3 bytes each
    settings.addConnect(0, name);
    const std::string out = settings.getConnectNodeName(0);
    EXPECT_EQ(out.size(), 126u);
    EXPECT_EQ(out, name.substr(0, 126));
    EXPECT_EQ(settings.connections().at(0).nodeName, name); // the list keeps it whole
}
