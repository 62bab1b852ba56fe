#include "skype/VX_SKYPEMODEL.h"
#include "platform/EventLoop.h"
#include "skype/MODELLISTENER.h"
#include "skype/VX_SKYPECOM.h"
#include "support/FakeSkypeLink.h"
#include "support/StandinProcess.h"
#include "support/TempDir.h"
#include "support/TestNode.h"

#include <gtest/gtest.h>

#include <fstream>

// The user model: its reading of the client's replies (tables, over a recording link) and the
// picture it builds from a real client (the stand-in).
namespace {

struct Listener : MODELLISTENER
{
    int changes = 0;
    void onModelChanged() override { ++changes; }
};

std::vector<std::string> names(const VX_SKYPEMODEL& m)
{
    std::vector<std::string> out;
    for (const auto& c : m.contacts())
        out.push_back(c.name);
    return out;
}

int presenceOf(const VX_SKYPEMODEL& m, const std::string& name)
{
    for (const auto& c : m.contacts()) {
        if (c.name == name)
            return c.presence;
    }
    return -1;
}

class UserModelTest : public ::testing::Test
{
protected:
    UserModelTest() { model.addListener(&listener); }

    FakeSkypeLink link;
    VX_SKYPEMODEL model{link};
    Listener listener;
};

TEST_F(UserModelTest, ContactListIsRebuiltAndQueriedInOrder)
{
    model.onAttachState(VX_SKYPECOM::LINK_ATTACHED);
    EXPECT_EQ(link.commands, std::vector<std::string>{"SEARCH FRIENDS"});
    link.commands.clear();

    model.onUsers("alice, bob,carol");
    EXPECT_EQ(names(model), (std::vector<std::string>{"alice", "bob", "carol"}));
    for (const auto& c : model.contacts()) {
        EXPECT_EQ(c.presence, VX_SKYPEMODEL::SKYPE_OFFLINE);
        EXPECT_EQ(c.connectable, (std::array<int, 5>{}));
    }
    EXPECT_EQ(listener.changes, 1);
    EXPECT_EQ(link.commands,
              (std::vector<std::string>{"GET USER alice ONLINESTATUS", "GET USER bob ONLINESTATUS",
                                        "GET USER carol ONLINESTATUS", "GET CURRENTUSERHANDLE"}));

    // A later list replaces the earlier one whole.
    model.onUsers("dave");
    EXPECT_EQ(names(model), std::vector<std::string>{"dave"});
}

TEST_F(UserModelTest, NamesThatCannotBeKeptOrSentAreSkipped)
{
    const std::string tooLong(33, 'x');
    const std::string longest(32, 'y');
    model.onUsers("  , ann,, " + tooLong + ", " + longest +
                  ",bad:name, bo\x01"
                  "b");
    EXPECT_EQ(names(model), (std::vector<std::string>{"ann", longest}));
    EXPECT_EQ(link.count("GET USER"), 2);

    model.onUsers("");
    EXPECT_TRUE(model.contacts().empty());
    EXPECT_EQ(link.commands.back(), "GET CURRENTUSERHANDLE");
}

TEST_F(UserModelTest, PresenceLines)
{
    model.onCurrentUserHandle("me");
    model.onUsers("bob, carol, me");
    struct Case
    {
        std::string line;
        std::string name;
        int presence;
    };
    const std::vector<Case> cases = {
        {"bob ONLINESTATUS ONLINE", "bob", 2},  {"bob ONLINESTATUS UNKNOWN", "bob", 1},
        {"bob ONLINESTATUS AWAY", "bob", 2},    {"bob ONLINESTATUS OFFLINE", "bob", 1},
        {"bob ONLINESTATUS SKYPEME", "bob", 2}, {"bob ONLINESTATUS UNKNOWNISH", "bob", 1},
        {"carol ONLINESTATUS DND", "carol", 2}, {"bob ONLINESTATUS", "bob", 1},
        {"me ONLINESTATUS ONLINE", "me", 1},    {"zed ONLINESTATUS ONLINE", "zed", -1},
        {"carol FULLNAME Carol C", "carol", 2},
    };
    // In order: each line starts from what the one before left; a line that ends before its
    // value changes nothing.
    for (const Case& c : cases) {
        model.onUser(c.line);
        EXPECT_EQ(presenceOf(model, c.name), c.presence) << c.line;
    }
}

TEST_F(UserModelTest, OwnIdAndPresence)
{
    model.onCurrentUserHandle("alice trailing words");
    EXPECT_EQ(model.ownSkypeId(), "alice");
    model.onCurrentUserHandle(std::string(40, 'a'));
    EXPECT_EQ(model.ownSkypeId(), std::string(32, 'a'));

    const std::vector<std::pair<std::string, int>> statuses = {
        {"ONLINE", 2}, {"OFFLINE", 1}, {"AWAY", 2}, {"UNKNOWN", 1}, {"LOGEDOUT", 1}, {"NA", 2}};
    for (const auto& [word, presence] : statuses) {
        model.onUserStatus(word);
        EXPECT_EQ(model.ownPresence(), presence) << word;
    }
}

TEST_F(UserModelTest, AddedContactsAndConnectableFlags)
{
    model.onUsers("bob, carol");
    link.commands.clear();
    const int changes = listener.changes;
    model.onUser("dave BUDDYSTATUS 3");
    model.onUser("dave BUDDYSTATUS 3");
    model.onUser("erin BUDDYSTATUS 2");
    EXPECT_EQ(names(model), (std::vector<std::string>{"bob", "carol", "dave"}));
    EXPECT_EQ(listener.changes, changes);
    EXPECT_TRUE(link.commands.empty());

    model.setConnectable(0, "dave bob stranger");
    EXPECT_EQ(model.isConnectable("bob"), 1);
    EXPECT_EQ(model.isConnectable("dave"), 1);
    EXPECT_EQ(model.isConnectable("carol"), 0);
    EXPECT_EQ(model.isConnectable("stranger"), 0);
    EXPECT_EQ(model.isConnectable("bo"), 0);
    // Other slots' flags do not count, and an empty list clears the slot.
    model.setConnectable(1, "carol");
    EXPECT_EQ(model.isConnectable("carol"), 0);
    model.setConnectable(0, "");
    EXPECT_EQ(model.isConnectable("bob"), 0);
    model.setConnectable(7, "bob");
    model.setConnectable(-1, "bob");
    EXPECT_EQ(model.isConnectable("bob"), 0);

    model.setConnectable(0, "bob");
    model.onCurrentUserHandle("me");
    model.reset();
    EXPECT_EQ(model.isConnectable("bob"), 0);
    EXPECT_TRUE(model.contacts().empty());
    EXPECT_TRUE(model.ownSkypeId().empty());
    EXPECT_EQ(model.ownPresence(), VX_SKYPEMODEL::SKYPE_OFFLINE);
    EXPECT_EQ(listener.changes, changes + 1);
}

TEST_F(UserModelTest, LinkLostWhileQueryingStopsCleanly)
{
    // The second presence query finds the client gone: the link empties the model from inside
    // the command, and the loop must not read the list it was walking.
    link.onCommand = [&](const std::string& c) {
        if (c == "GET USER b ONLINESTATUS")
            model.reset();
    };
    model.onUsers("a, b, c, d");
    EXPECT_TRUE(model.contacts().empty());
    EXPECT_EQ(link.count("GET USER"), 2);
}

TEST(UserModelStandinTest, PictureFromTheClient)
{
    TestNode::useFastTimers();
    TempDir dir;
    const std::string config = dir.file("users.ini");
    std::ofstream(config) << "[alice]\nruntime = alice\ncontacts = bob, carol,dave\n"
                             "presence = AWAY\n"
                             "[bob]\nruntime = bob\n[dave]\nruntime = dave\npresence = NA\n";
    StandinProcess standin(config);
    ASSERT_TRUE(standin.start());

    VX_SKYPECOM link(ClientWire::endpointPath(dir.file("alice")));
    VX_SKYPEMODEL model(link);
    link.openWindow({});
    ASSERT_TRUE(plat::runUntil([&] { return model.ownSkypeId() == "alice"; }, 5000));
    EXPECT_EQ(names(model), (std::vector<std::string>{"bob", "carol", "dave"}));
    EXPECT_EQ(presenceOf(model, "bob"), 2);
    EXPECT_EQ(presenceOf(model, "carol"), 1) << "nobody serves carol";
    EXPECT_EQ(presenceOf(model, "dave"), 2);
    EXPECT_EQ(model.ownPresence(), 2);

    // A contact added at the client arrives as a notification.
    EXPECT_EQ(link.sendCommand("SET USER erin BUDDYSTATUS 2 hello"), 1);
    EXPECT_EQ(names(model), (std::vector<std::string>{"bob", "carol", "dave", "erin"}));
}

} // namespace
