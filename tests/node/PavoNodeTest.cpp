#include "node/PavoNode.h"

#include "support/TempDir.h"
#include "support/TestNode.h"
#include "support/TextFiles.h"

#include "app/CPostError.h"
#include "app/VX_EVENTCATALOG.h"
#include "app/VX_EVENTLOG.h"
#include "catalog/CCatalog.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "skype/VX_A2AMODEL.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPEMODEL.h"
#include "tcp/CTcpA2AModel.h"
#include "transfer/CSkypeColumn.h"
#include "transfer/CTcpColumn.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kIni = "[SYSTEM]\nPARTY=p\nNAME=a\nLISTENPORT=0\nCONNECTNUM=1\n"
                         "[REC1]\nNAME=b\nTRS=TCP\nHOSTNAME=127.0.0.1/9\n";

NodeOptions withoutMessagingClient()
{
    NodeOptions options;
    options.messagingClient = false;
    return options;
}

// Every design class's accessor, by name, as a caller outside the node sees it.
struct Accessor
{
    const char* name;
    const void* (*get)();
};
const Accessor kAccessors[] = {
    {"CCatalog", [] { return static_cast<const void*>(CCatalog::instance()); }},
    {"CTcpA2AModel", [] { return static_cast<const void*>(CTcpA2AModel::instance()); }},
    {"VX_SKYPECOM", [] { return static_cast<const void*>(VX_SKYPECOM::instance()); }},
    {"VX_SKYPEMODEL", [] { return static_cast<const void*>(VX_SKYPEMODEL::instance()); }},
    {"VX_A2AMODEL", [] { return static_cast<const void*>(VX_A2AMODEL::instance()); }},
    {"VX_EVENTCATALOG", [] { return static_cast<const void*>(VX_EVENTCATALOG::instance()); }},
    {"VX_EVENTLOG", [] { return static_cast<const void*>(VX_EVENTLOG::instance()); }},
    {"CPostError", [] { return static_cast<const void*>(CPostError::instance()); }},
};

} // namespace

// The node as start-up builds it: its parts are the ones the accessors hand out; a file placed
// in SEND is registered and its record survives the node; after shutdown no accessor hands out
// anything, and nothing builds a part again.
TEST(PavoNode, AssemblesItsPartsRegistersAFileAndLeavesNothingBehind)
{
    TestNode::useFastTimers();
    TempDir dir;
    writeText(dir.file("Pavo.ini"), kIni);
    {
        PavoNode node(dir.path(), withoutMessagingClient());
        EXPECT_EQ(node.settings().nodeName(), "a") << "the settings are loaded";
        EXPECT_EQ(CPropatyHotLine::instance(), &node.settings());
        EXPECT_EQ(CCatalog::instance(), node.catalog());
        EXPECT_EQ(CTcpA2AModel::instance(), node.transfer().tcp().model());
        EXPECT_EQ(VX_SKYPECOM::instance(), node.transfer().skype().link());
        EXPECT_EQ(VX_SKYPEMODEL::instance(), node.transfer().skype().userModel());
        EXPECT_EQ(VX_A2AMODEL::instance(), node.transfer().skype().peers());
        for (const Accessor& a : kAccessors)
            EXPECT_NE(a.get(), nullptr) << a.name;
        EXPECT_TRUE(node.periodic().running(CPavoPeriodic::kHeartbeat));
        // The own node information is published at the start, and its list names the node.
        EXPECT_TRUE(plat::fileExists(node.nodeInfo().ownFilePath()));
        ASSERT_FALSE(node.nodeList().empty());
        EXPECT_EQ(node.nodeList().front().nodeName, "a");

        EXPECT_FALSE(node.isListening()) << "a node starts off-line";
        EXPECT_EQ(node.setOnline(true), PavoNode::OnlineRefusal::None);
        EXPECT_TRUE(node.isListening());
        EXPECT_GT(node.transfer().tcp().model()->listenPort(), 0);

        // The send-folder trigger runs a folder-watch pass shortly after the file appears.
        writeText(dir.file("SEND/report.txt"), "contents");
        CatalogRecord entry;
        ASSERT_TRUE(plat::runUntil(
            [&] { return node.catalog()->hasEntry("a", "report.txt", &entry); }, 5000));
        EXPECT_EQ(entry.completeFlag(), 1u);

        node.shutdown();
        for (const Accessor& a : kAccessors)
            EXPECT_EQ(a.get(), nullptr) << a.name << " after shutdown";
        EXPECT_EQ(node.catalog(), nullptr);
        EXPECT_FALSE(node.isListening());
        EXPECT_EQ(node.setOnline(true), PavoNode::OnlineRefusal::None);
        EXPECT_FALSE(node.online()) << "a node that was shut down stays off-line";
        node.shutdown(); // a second time does nothing
        // The settings stay readable until the node goes.
        EXPECT_EQ(CPropatyHotLine::instance(), &node.settings());
        // Periodic work that is still queued finds nothing to work on.
        plat::runFor(50);
    }
    EXPECT_EQ(CPropatyHotLine::instance(), nullptr);
    EXPECT_EQ(plat::IniFile(dir.file("Pavo.ini")).getString("REC1", "NAME", ""), "b");

    // A node built again over the folder finds the registration in its catalog file.
    PavoNode again(dir.path(), withoutMessagingClient());
    EXPECT_TRUE(again.catalog()->hasEntry("a", "report.txt", nullptr));
}

TEST(PavoNode, StaysOffLineWhileANameOrEveryConnectionIsMissing)
{
    TestNode::useFastTimers();
    const struct
    {
        const char* ini;
        PavoNode::OnlineRefusal refusal;
    } cases[] = {
        {kIni, PavoNode::OnlineRefusal::None},
        {"[SYSTEM]\nPARTY=p\nCONNECTNUM=1\n[REC1]\nNAME=b\nTRS=TCP\nHOSTNAME=h\n",
         PavoNode::OnlineRefusal::NoNodeName},
        {"[SYSTEM]\nNAME=a\nCONNECTNUM=1\n[REC1]\nNAME=b\nTRS=TCP\nHOSTNAME=h\n",
         PavoNode::OnlineRefusal::NoPartyName},
        {"[SYSTEM]\nPARTY=p\nNAME=a\n", PavoNode::OnlineRefusal::NoConnection},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeText(dir.file("Pavo.ini"), c.ini);
        PavoNode node(dir.path(), withoutMessagingClient());
        EXPECT_EQ(node.setOnline(true), c.refusal) << c.ini;
        const bool online = c.refusal == PavoNode::OnlineRefusal::None;
        EXPECT_EQ(node.online(), online) << c.ini;
        EXPECT_EQ(node.isListening(), online) << c.ini;
        EXPECT_EQ(node.settings().online(), online) << c.ini;
        node.setOnline(false);
        EXPECT_FALSE(node.isListening());
    }
}
