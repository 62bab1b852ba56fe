#include "nodeui/CNodeFileDlg.h"

#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "nodeui/CFileMFCListCtrl.h"
#include "platform/Files.h"
#include "support/RecordingPrompt.h"
#include "support/ScriptedPeer.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using catalog::RecordKind::Deleted;

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Node "Own" with a peer "Peer": the catalog holds two own files (one of them the node file) and
// three complete files from "Other", whose contents lie in the receive folder.
struct PaneWorld
{
    PaneWorld() : settings(dir.path())
    {
        settings.setNodeName("Own");
        settings.setPartyName("party");
        settings.connections().append({"Peer", "TCP", "localhost", {}});
        plat::makeFolders(settings.getSendFolder());
        plat::makeFolders(plat::joinPath(settings.getRecvFolder(), "Other"));
        catalog = std::make_unique<CCatalog>(node, true);
        catalog->addLocal(makeTestRecord("Own", "party", "nodeInfomation.nod", 9124));
        catalog->addLocal(makeTestRecord("Own", "party", "own.txt", 5));
        received("nodeInfomation.nod", 9124);
        received("doc.txt", 1000);
        CatalogRecord huge = makeTestRecord("Other", "party", "huge.iso", 0);
        plat::FindRecord f = huge.fileDescription();
        f.setSize(5ull << 30); // beyond what the low 32 bits can say
        huge.setFileDescription(f);
        catalog->addLocal(huge);
        pane.initialise(settings, [this] { return catalog.get(); });
        pane.setSavePathChooser([this](const std::string& name) -> std::optional<std::string> {
            proposed.push_back(name);
            return savePath;
        });
    }

    void received(const std::string& name, std::uint32_t size)
    {
        catalog->addLocal(makeTestRecord("Other", "party", name, size));
        writeText(plat::joinPath(plat::joinPath(settings.getRecvFolder(), "Other"), name),
                  std::string(size, 'r'));
    }

    int rowOf(const std::string& name)
    {
        for (int r = 0; r < pane.list().rowCount(); ++r)
            if (pane.list().cellText(r, 0) == name)
                return r;
        return -1;
    }

    void select(const std::string& name)
    {
        const int row = rowOf(name);
        ASSERT_GE(row, 0) << name;
        pane.list().selectRowShown(row);
    }

    CatalogRecord entry(const std::string& origin, const std::string& name)
    {
        CatalogRecord r;
        EXPECT_TRUE(catalog->hasEntry(origin, name, &r));
        return r;
    }

    TempDir dir;
    NodeSettings settings;
    NodeContext node{settings};
    std::unique_ptr<CCatalog> catalog;
    CNodeFileDlg pane;
    RecordingPrompt prompt;
    std::optional<std::string> savePath;
    std::vector<std::string> proposed;
};

class NodeFilePane : public ::testing::Test, public PaneWorld
{
};

TEST_F(NodeFilePane, OwnAndOtherNodesHaveTheirTitlesAndButtons)
{
    EXPECT_EQ(pane.title().text().toStdString(), "着信ファイル一覧");
    EXPECT_TRUE(pane.takeOutButton().isEnabled());
    EXPECT_FALSE(pane.deleteButton().isEnabled());
    EXPECT_EQ(pane.list().rowCount(), 0);

    pane.showNode("Own");
    EXPECT_EQ(pane.title().text().toStdString(), "登録ファイル一覧");
    EXPECT_FALSE(pane.takeOutButton().isEnabled());
    EXPECT_TRUE(pane.deleteButton().isEnabled());
    EXPECT_EQ(pane.list().rowCount(), 2);

    pane.showNode("Other");
    EXPECT_EQ(pane.title().text().toStdString(), "着信ファイル一覧");
    EXPECT_TRUE(pane.takeOutButton().isEnabled());
    EXPECT_FALSE(pane.deleteButton().isEnabled());
}

TEST_F(NodeFilePane, RowsShowSizesAndGreyManagementFiles)
{
    pane.showNode("Other");
    ASSERT_EQ(pane.list().rowCount(), 3);
    const QColor normal = pane.list().palette().color(QPalette::Text);
    struct Row
    {
        const char* name;
        const char* size;
        bool grey;
    };
    for (const Row& r : {Row{"nodeInfomation.nod", "9,124", true}, Row{"doc.txt", "1,000", false},
                         Row{"huge.iso", "2G超", false}}) {
        const int row = rowOf(r.name);
        ASSERT_GE(row, 0) << r.name;
        EXPECT_EQ(pane.list().cellText(row, 3), r.size) << r.name;
        EXPECT_EQ(pane.list().rowTextColour(row),
                  r.grey ? CFileMFCListCtrl::kManagementGrey : normal)
            << r.name;
        EXPECT_EQ(pane.list().item(row, 1)->foreground().color(), pane.list().rowTextColour(row));
    }
    const CatalogRecord doc = entry("Other", "doc.txt");
    const plat::SystemTime t = doc.registrationTime();
    char registered[64];
    std::snprintf(registered, sizeof registered, "%4d/%2d/%2d %02d:%02d:%02d:%03d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.milliseconds);
    EXPECT_EQ(pane.list().cellText(rowOf("doc.txt"), 1), registered);
}

TEST(NodeFilePaneRefusals, LeaveListAndCatalogUnchanged)
{
    struct Case
    {
        const char* name;
        const char* node;   // nullptr: no node shown
        const char* select; // nullptr: no row selected
        std::function<void(PaneWorld&)> change;
        bool deleting;
        const char* message;
    };
    const Case cases[] = {
        {"no node", nullptr, nullptr, {}, false, "ノードが選択されていません."},
        {"no node (delete)", nullptr, nullptr, {}, true, "ノードが選択されていません."},
        {"no file", "Other", nullptr, {}, false, "ファイルが選択されていません"},
        {"no file (delete)", "Own", nullptr, {}, true, "ファイルが選択されていません"},
        {"management file taken out",
         "Other",
         "nodeInfomation.nod",
         {},
         false,
         "管理用ファイルは取り出しできません"},
        {"own management file deleted",
         "Own",
         "nodeInfomation.nod",
         {},
         true,
         "管理用ファイルは削除できません"},
        {"entry gone since the list was filled", "Other", "doc.txt",
         [](PaneWorld& t) {
             t.catalog->deleteHere(t.entry("Other", "doc.txt"));
             t.catalog->purge();
         },
         false, "カタログ情報の読み込みでエラーが発生しました。一覧を更新して下さい"},
        {"entry gone since the list was filled (delete)", "Own", "own.txt",
         [](PaneWorld& t) {
             t.catalog->deleteHere(t.entry("Own", "own.txt"));
             t.catalog->purge();
         },
         true, "カタログ情報の読み込みでエラーが発生しました。一覧を更新して下さい"},
        {"entry downloading again since the list was filled", "Other", "doc.txt",
         [](PaneWorld& t) {
             CatalogRecord newer = makeTestRecord("Other", "party", "doc.txt", 1000);
             newer.setKind(catalog::RecordKind::Changed);
             plat::SystemTime later = newer.registrationTime();
             later.year = std::uint16_t(later.year + 1);
             newer.setRegistrationTime(later);
             catalog::stampChecksum(newer);
             t.catalog->mergeRecord(newer);
         },
         false, "このファイルはまだ食べ頃ではありません。後ほどお願いします"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto world = std::make_unique<PaneWorld>();
        PaneWorld* t = world.get();
        if (c.node)
            t->pane.showNode(c.node);
        if (c.select)
            t->select(c.select);
        if (c.change)
            c.change(*t);
        const int rows = t->pane.list().rowCount();
        const int entries = t->catalog->count();
        t->prompt.clear();
        t->savePath = t->dir.file("out");
        if (c.deleting)
            t->pane.deleteRegistration();
        else
            t->pane.takeOut();
        EXPECT_EQ(t->prompt.all, std::vector<std::string>{c.message});
        EXPECT_TRUE(t->proposed.empty());
        EXPECT_FALSE(plat::fileExists(t->dir.file("out")));
        EXPECT_EQ(t->pane.list().rowCount(), rows);
        EXPECT_EQ(t->catalog->count(), entries);
        for (int i = 0; i < t->catalog->count(); ++i)
            EXPECT_NE(t->catalog->getRecord(i).kind(), Deleted);
    }
}

TEST_F(NodeFilePane, TakeOutCopiesTheReceivedFileAndKeepsTheCatalog)
{
    pane.showNode("Other");
    select("doc.txt");
    savePath = dir.file("saved/doc copy.txt");
    pane.takeOut();
    EXPECT_TRUE(prompt.all.empty());
    EXPECT_EQ(proposed, std::vector<std::string>{"doc.txt"});
    EXPECT_EQ(readText(*savePath), std::string(1000, 'r'));
    EXPECT_EQ(entry("Other", "doc.txt").completeFlag(), 1u);

    // A cancelled save-as dialog copies nothing.
    savePath.reset();
    pane.takeOut();
    EXPECT_EQ(proposed.size(), 2u);
}

TEST_F(NodeFilePane, DeletionIsAskedAndSpreadsToEveryPeer)
{
    pane.showNode("Own");
    select("own.txt");
    prompt.script({plat::Answer::No});
    pane.deleteRegistration();
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0], "選択したファイルとネットワークへの登録を削除します。"
                                   "この操作はネットワーク上他ノードのファイルも消去します。");
    EXPECT_EQ(entry("Own", "own.txt").kind(), catalog::RecordKind::New);
    const auto before = catalog->takePending("Peer").size();

    prompt.script({plat::Answer::Yes});
    pane.deleteRegistration();
    EXPECT_EQ(entry("Own", "own.txt").kind(), Deleted);
    const auto pending = catalog->takePending("Peer");
    ASSERT_EQ(pending.size(), 1u) << before;
    EXPECT_EQ(pending[0].fileNameUtf8(), "own.txt");
    EXPECT_EQ(pending[0].kind(), Deleted);
}

TEST_F(NodeFilePane, SelectionSurvivesReloadsWhichOnlyAutoUpdateTriggers)
{
    pane.showNode("Other");
    select("huge.iso");
    received("added.txt", 3);

    pane.onTimer(); // auto update off: the list stays as it was
    EXPECT_EQ(pane.list().rowCount(), 3);

    pane.autoUpdate().setChecked(true);
    pane.onTimer();
    EXPECT_EQ(pane.list().rowCount(), 4);
    ASSERT_TRUE(pane.list().selectedRow());
    EXPECT_EQ(pane.list().cellText(*pane.list().selectedRow(), 0), "huge.iso");
}

} // namespace
