#include "ui/CPavoDlg.h"

#include "MainWindowFixture.h"
#include "OnModal.h"
#include "support/RecordFiles.h"
#include "support/RecordingPrompt.h"
#include "support/TempDir.h"
#include "support/TestNode.h"

#include "app/CPostError.h"
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "platform/Files.h"
#include "platform/FindRecord.h"
#include "platform/IniFile.h"
#include "ui/CCatalogListCtrl.h"
#include "ui/CDialogConnectMethod.h"
#include "ui/CMsg.h"
#include "uikit/CatalogRowText.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {
const char* const kNoNodeName = "ノード名が未設定です。ノード名を設定してください。";
const char* const kNoPartyName = "パーティ名が未設定です。パーティ名を設定してください。";
const char* const kNoConnection = "接続先の設定がありません。接続先を1つ以上設定してください。";

// A main window over its own working folder, headless, listening on a free port.
class Window
{
public:
    explicit Window(const std::string& ini)
    {
        TestNode::useFastTimers();
        std::ofstream(dir.file("Pavo.ini"), std::ios::binary) << "[SYSTEM]\nLISTENPORT=0\n" << ini;
        // No messaging client here: the link must not look for one.
        NodeOptions options;
        options.messagingClient = false;
        node = std::make_unique<PavoNode>(dir.path(), options);
        dlg = std::make_unique<CPavoDlg>(*node, true);
        dlg->initialise();
    }

    TempDir dir;
    RecordingPrompt prompt;
    std::unique_ptr<PavoNode> node;
    std::unique_ptr<CPavoDlg> dlg;
};

const char* const kOnePeer = "CONNECTNUM=1\n[REC1]\nNAME=b\nTRS=TCP\nHOSTNAME=127.0.0.1/9\n";
} // namespace

TEST(CPavoDlg, GoingOnlineChecksNodeNameThenPartyNameThenConnections)
{
    struct Case
    {
        const char* what;
        std::string ini;
        std::vector<std::string> atStart;
        int selection;
    };
    const Case cases[] = {
        {"all set", std::string("PARTY=p\nNAME=a\n") + kOnePeer, {}, CPavoDlg::kOnline},
        {"both names empty", kOnePeer, {kNoNodeName}, CPavoDlg::kOffline},
        {"party empty", std::string("NAME=a\n") + kOnePeer, {kNoPartyName}, CPavoDlg::kOffline},
        {"no connection", "PARTY=p\nNAME=a\n", {}, CPavoDlg::kOffline},
    };
    for (const Case& c : cases) {
        Window w(c.ini);
        EXPECT_EQ(w.prompt.messages, c.atStart) << c.what;
        EXPECT_EQ(w.dlg->selection(), c.selection) << c.what;
        EXPECT_EQ(w.dlg->isListening(), c.selection == CPavoDlg::kOnline) << c.what;
        EXPECT_EQ(w.dlg->controls().online->isChecked(), c.selection == CPavoDlg::kOnline);
    }
    // Choosing "OnLine" without a connection: the message, and the switch falls back.
    Window w("PARTY=p\nNAME=a\n");
    w.dlg->controls().online->click();
    EXPECT_EQ(w.prompt.messages, std::vector<std::string>{kNoConnection});
    EXPECT_EQ(w.dlg->selection(), CPavoDlg::kOffline);
    EXPECT_TRUE(w.dlg->controls().offline->isChecked());
}

TEST(CPavoDlg, GoingOfflineStopsListening)
{
    Window w(std::string("PARTY=p\nNAME=a\n") + kOnePeer);
    ASSERT_TRUE(w.dlg->isListening());
    w.dlg->controls().offline->click();
    EXPECT_FALSE(w.dlg->isListening());
    w.dlg->controls().online->click();
    EXPECT_TRUE(w.dlg->isListening());
    EXPECT_TRUE(w.prompt.all.empty());
}

TEST(CPavoDlg, ConnectedPeersLockTheSettingsButtonsAndShowInTheToolTip)
{
    Window w(std::string("PARTY=p\nNAME=a\n") + kOnePeer);
    const auto& c = w.dlg->controls();
    const std::vector<QPushButton*> locked{c.systemSettings, c.addConnection, c.changeConnection,
                                           c.deleteConnection};
    EXPECT_EQ(w.dlg->toolTipText(), "Pavo [p] - a\r\nOFFLINE");
    EXPECT_EQ(w.dlg->windowTitle().toStdString(), "Pavo [p] - a");
    w.dlg->onAnyConnected(1);
    w.dlg->onAnyConnected(1);
    for (QPushButton* b : locked)
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(c.catalogSync->isEnabled());
    EXPECT_EQ(w.dlg->toolTipText(), "Pavo [p] - a\r\nONLINE");
    w.dlg->onAnyConnected(0);
    for (QPushButton* b : locked)
        EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(w.dlg->toolTipText(), "Pavo [p] - a\r\nOFFLINE");
}

TEST(CPavoDlg, ToolTipIsCutTo127BytesWithoutSplittingACharacter)
{
    std::string party;
    for (int i = 0; i < 60; ++i)
        party += "あ"; // three bytes each
    const std::string tip = TrayIcon::toolTipText("Pavo [" + party + "]", false);
    EXPECT_LE(tip.size(), 127u);
    EXPECT_GE(tip.size(), 125u);
    EXPECT_TRUE(QString::fromStdString(tip).toStdString() == tip); // valid UTF-8 throughout
}

TEST(CPavoDlg, ListShowsTheSettingsConnectionsAndFollowsTheirChanges)
{
    Window w("PARTY=p\nNAME=a\nCONNECTNUM=3\n"
             "[REC1]\nNAME=b\nTRS=TCP\nHOSTNAME=hostb/4000\nCOMMENT=first\n"
             "[REC2]\nNAME=c\nTRS=TCP\nHOSTNAME=hostc\n"
             "[REC3]\nNAME=d\nTRS=SKYPE\nSKYPEID=skype.d\n");
    CPavoDlg& d = *w.dlg;
    NodeSettings& settings = d.settings();
    ASSERT_EQ(d.rows().count(), 3);
    EXPECT_EQ(d.rows().cell(0, CConnectListCtrl::Address), "hostb/4000");
    EXPECT_EQ(d.rows().cell(0, CConnectListCtrl::Comment), "first");
    EXPECT_EQ(d.rows().cell(2, CConnectListCtrl::Method), "SKYPE");
    EXPECT_EQ(settings.isConnectSkypeId("skype.d"), 1);
    // A peer's name learnt from its hello shows at once.
    settings.renameConnectNode(CPropatyHotLine::kMethodSkype, "skype.d", "d", "dd");
    EXPECT_EQ(d.rows().cell(2, CConnectListCtrl::NodeName), "dd");
    // Off-line, no Skype peer is admitted.
    d.controls().offline->click();
    EXPECT_EQ(settings.isConnectSkypeId("skype.d"), 0);
    d.controls().online->click();
    EXPECT_EQ(settings.isConnectSkypeId("skype.d"), 1);

    // The window saves what it holds when it ends.
    settings.setComment(1, "second");
    EXPECT_EQ(d.rows().cell(1, CConnectListCtrl::Comment), "second");
    w.dlg.reset();
    plat::IniFile ini(w.dir.file("Pavo.ini"));
    EXPECT_EQ(ini.getString("REC2", "COMMENT", ""), "second");
    EXPECT_EQ(ini.getString("REC3", "NAME", ""), "dd");
    EXPECT_EQ(ini.getString("REC3", "HOSTNAME", "x"), "");
}

TEST(CPavoDlg, ASecondSuspendKeepsTheSelectionSavedByTheFirst)
{
    Window w(std::string("PARTY=p\nNAME=a\n") + kOnePeer);
    w.dlg->suspend();
    EXPECT_EQ(w.dlg->selection(), CPavoDlg::kOffline);
    w.dlg->suspend();
    w.dlg->resume();
    EXPECT_EQ(w.dlg->selection(), CPavoDlg::kOnline);
    EXPECT_TRUE(w.dlg->controls().online->isChecked());
    w.dlg->resume(); // not suspended: nothing changes
    EXPECT_EQ(w.dlg->selection(), CPavoDlg::kOnline);
}

TEST(CPavoDlg, PostedNoticesReachTheStatusLine)
{
    Window w("PARTY=p\nNAME=a\n");
    const CMsg& status = *w.dlg->controls().status;
    struct Case
    {
        std::function<void()> post;
        std::string text;
    };
    const Case cases[] = {
        {[] { CPostError::instance()->post(CPostError::kPartyMismatch); },
         "TCP接続でパーティ名が不一致の接続があります.切断します."},
        {[] { CPostError::instance()->post(CPostError::kFrameError); },
         "TCP接続フレームエラーです接続先のバージョンを確認して下さい."},
        {[] { CPostError::instance()->postDetail("詳細な知らせ"); }, "詳細な知らせ"},
    };
    for (const Case& c : cases) {
        c.post();
        EXPECT_TRUE(plat::runUntil([&] { return status.text().toStdString() == c.text; }, 2000))
            << c.text << " / " << status.text().toStdString();
    }
    w.dlg->postError(2, 0);
    w.dlg->postError(3, 1);
    EXPECT_EQ(status.text().toStdString(), cases[2].text);
}

TEST(CPavoDlg, CloseEscapeAndEnterKeepTheProgramRunningAndExitEndsIt)
{
    Window w("PARTY=p\nNAME=a\n");
    int ended = 0;
    QObject::connect(w.dlg.get(), &CPavoDlg::ended, w.dlg.get(), [&ended] { ++ended; });
    ASSERT_TRUE(w.dlg->visibleFlag());
    w.dlg->close();
    w.dlg->reject();
    w.dlg->accept();
    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(w.dlg.get(), &press);
    }
    EXPECT_EQ(ended, 0);
    if (w.dlg->tray().available())
        EXPECT_FALSE(w.dlg->isVisible());
    else
        EXPECT_TRUE(w.dlg->isMinimized()); // must stay reachable without a notification area
    w.dlg->openFromTray();
    EXPECT_TRUE(w.dlg->visibleFlag());
    w.dlg->exitFromTray();
    w.dlg->exitFromTray();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(w.dlg->visibleFlag());
}

TEST(CPavoDlg, WithoutANotificationAreaTheCloseBoxAsksWhetherToEndTheNode)
{
    Window w("PARTY=p\nNAME=a\n");
    if (w.dlg->tray().available())
        GTEST_SKIP() << "this desktop has a notification area";
    int ended = 0;
    QObject::connect(w.dlg.get(), &CPavoDlg::ended, w.dlg.get(), [&ended] { ++ended; });
    w.dlg->close(); // the safe answer keeps the node running, minimised
    ASSERT_EQ(w.prompt.questions.size(), 1u);
    EXPECT_NE(w.prompt.questions[0].find("ノードを終了しますか？"), std::string::npos);
    EXPECT_TRUE(w.dlg->isMinimized());
    EXPECT_EQ(ended, 0);
    w.prompt.script({plat::Answer::Yes});
    w.dlg->close();
    EXPECT_EQ(ended, 1);
}

TEST(CPavoDlg, TheContextMenuOffersTheAboutBoxAndEndingTheNode)
{
    Window w("PARTY=p\nNAME=a\n");
    int ended = 0;
    QObject::connect(w.dlg.get(), &CPavoDlg::ended, w.dlg.get(), [&ended] { ++ended; });
    const auto menu = w.dlg->contextMenu();
    QAction* exit = nullptr;
    QStringList texts;
    for (QAction* a : menu->actions()) {
        texts << a->text();
        if (a->text() == QStringLiteral("終了"))
            exit = a;
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Pavo のﾊﾞｰｼﾞｮﾝ情報(&A)..."), QString(),
                                  QStringLiteral("終了")}));
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    EXPECT_TRUE(plat::runUntil([&] { return ended == 1; }, 2000));
}

TEST(CPavoDlg, AFirstStartWithoutNamesSaysWhereToSetThem)
{
    Window named("PARTY=p\nNAME=a\n");
    named.dlg->firstStartGuide();
    EXPECT_TRUE(named.prompt.all.empty());
    EXPECT_TRUE(named.dlg->controls().status->text().isEmpty());
    EXPECT_EQ(named.dlg->windowTitle().toStdString(), "Pavo [p] - a");
    named.dlg.reset();

    // Headless nobody could fill in a dialog: the message says where the names go.
    Window fresh("");
    EXPECT_EQ(fresh.dlg->windowTitle().toStdString(), "Pavo []");
    fresh.dlg->firstStartGuide();
    ASSERT_EQ(fresh.prompt.messages.size(), 1u);
    EXPECT_NE(fresh.prompt.messages[0].find("Pavo.ini の [SYSTEM] に PARTY と NAME"),
              std::string::npos);
    EXPECT_FALSE(fresh.dlg->controls().status->text().isEmpty());
}

namespace {
CatalogRecord received(const char* name, const char* origin, std::uint32_t complete)
{
    CatalogRecord r;
    r.setKind(catalog::RecordKind::New);
    EXPECT_TRUE(r.setOriginNodeUtf8(origin));
    plat::FindRecord f;
    f.setSize(5);
    f.setNameCp932(name);
    r.setFileDescription(f);
    r.setCompleteFlag(complete);
    return r;
}
} // namespace

TEST(CPavoDlg, AReceivedFileThatBecomesCompleteIsAnnouncedOnce)
{
    Window w("PARTY=p\nNAME=a\n");
    std::vector<std::string> announced;
    w.dlg->setArrivalHandler([&](const std::vector<CatalogRecord>& records) {
        for (const CatalogRecord& r : records)
            announced.push_back(r.fileNameUtf8() + "@" + r.originNodeUtf8());
    });
    w.dlg->applyPendingEvents();
    const int first = w.dlg->controls().catalog->rowCount();
    w.dlg->entryAdded(received("got.txt", "peer", 0));
    w.dlg->entryAdded(received("info.nod", "peer", 0));
    w.dlg->entryAdded(received("mine.txt", "a", 0));
    w.dlg->entryAdded(received("old.txt", "peer", 1)); // complete when listed: no arrival
    w.dlg->applyPendingEvents();
    EXPECT_TRUE(announced.empty());

    for (int i = 0; i < 2; ++i) // two updates of one row in one refresh: one arrival
        w.dlg->entryChanged(first, received("got.txt", "peer", 1));
    w.dlg->entryChanged(first + 1, received("info.nod", "peer", 1));
    w.dlg->entryChanged(first + 2, received("mine.txt", "a", 1));
    w.dlg->entryChanged(first + 3, received("old.txt", "peer", 1));
    w.dlg->applyPendingEvents();
    EXPECT_EQ(announced, std::vector<std::string>{"got.txt@peer"});

    w.dlg->entryChanged(first, received("got.txt", "peer", 1)); // already shown complete
    w.dlg->applyPendingEvents();
    EXPECT_EQ(announced.size(), 1u);
}

// A purge announces the list again over several turns of the loop; a refresh in between keeps
// the rows as they were rather than show a half list (and lose the user's selection with it).
TEST(CPavoDlg, ARefreshDuringAPurgesReannouncementWaitsForTheWholeList)
{
    Window w("PARTY=p\nNAME=a\n");
    w.dlg->applyPendingEvents();
    CCatalogListCtrl& list = *w.dlg->controls().catalog;
    const int first = list.rowCount();
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        w.dlg->entryAdded(received(name, "peer", 1));
    w.dlg->applyPendingEvents();
    list.selectRow(first + 2);
    const auto selected = [&] {
        const auto row = list.selectedRow();
        return row ? list.cellText(*row, ui::CatalogColumn::FileName) : std::string("(none)");
    };

    w.dlg->listReset(); // b.txt purged
    for (int row = 0; row < first; ++row)
        w.dlg->entryAdded(*list.rowRecord(row));
    w.dlg->entryAdded(received("a.txt", "peer", 1));
    w.dlg->applyPendingEvents();
    EXPECT_EQ(list.rowCount(), first + 3);
    EXPECT_EQ(selected(), "c.txt");

    w.dlg->entryAdded(received("c.txt", "peer", 1));
    w.dlg->listRefilled();
    w.dlg->applyPendingEvents();
    EXPECT_EQ(list.rowCount(), first + 2);
    EXPECT_EQ(list.cellText(first + 1, ui::CatalogColumn::FileName), "c.txt");
    EXPECT_EQ(selected(), "c.txt");
    EXPECT_TRUE(w.dlg->pendingEvents().empty());
}

TEST(CPavoDlg, TheCatalogListOpensTheReceivedFolderOfARow)
{
    Window w("PARTY=p\nNAME=a\n");
    std::vector<std::string> opened;
    w.dlg->setFolderOpener([&](const std::string& folder) { opened.push_back(folder); });
    w.dlg->applyPendingEvents();
    const int first = w.dlg->controls().catalog->rowCount();
    w.dlg->entryAdded(received("got.txt", "peer", 1));
    w.dlg->entryAdded(received("mine.txt", "a", 1));
    w.dlg->applyPendingEvents();
    const std::string recv = w.dlg->settings().getRecvFolder();
    for (const std::optional<int> row :
         {std::optional<int>(first), std::optional<int>(first + 1), std::optional<int>()}) {
        const auto menu = w.dlg->controls().catalog->contextMenu(row);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("受信フォルダを開く"));
        menu->actions()[0]->trigger();
        QApplication::processEvents();
    }
    EXPECT_EQ(opened, (std::vector<std::string>{recv + "/peer", recv, recv}));
}

TEST(CPavoDlg, AFilePlacedInTheSendFolderBecomesARowOfTheCatalogList)
{
    Window w("PARTY=p\nNAME=a\n");
    std::ofstream(w.dir.file("SEND/placed.txt"), std::ios::binary) << "some bytes";
    const CCatalogListCtrl& list = *w.dlg->controls().catalog;
    // The node's own information file is registered beside it.
    auto rowOf = [&](const std::string& name) {
        for (int row = 0; row < list.rowCount(); ++row)
            if (list.cellText(row, ui::CatalogColumn::FileName) == name)
                return row;
        return -1;
    };
    ASSERT_TRUE(plat::runUntil([&] { return rowOf("placed.txt") >= 0; }, 5000));
    const int row = rowOf("placed.txt");
    EXPECT_EQ(list.cellText(row, ui::CatalogColumn::Sender), "a");
    EXPECT_EQ(list.cellText(row, ui::CatalogColumn::Status), "------");
    EXPECT_EQ(list.cellText(row, ui::CatalogColumn::Size), "10");
    EXPECT_EQ(list.catalogRowCount(), CCatalog::instance()->count());
    EXPECT_TRUE(w.dlg->pendingEvents().empty());
}

// The session manager asks before a log-off, and the log-off may still be cancelled: the node
// must go on working after the question, and stop only when the session really ends.
TEST(CPavoDlg, ALogOffQueryLeavesTheNodeWorkingUntilTheSessionEnds)
{
    Window w("PARTY=p\nNAME=a\n");
    int ended = 0;
    QObject::connect(w.dlg.get(), &CPavoDlg::ended, w.dlg.get(), [&ended] { ++ended; });
    w.dlg->queryEndSession();
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(w.dlg->periodic().running(CPavoPeriodic::kHeartbeat));

    // Still scanning the send folder and refreshing the list.
    std::ofstream(w.dir.file("SEND/after-query.txt"), std::ios::binary) << "bytes";
    const CCatalogListCtrl& list = *w.dlg->controls().catalog;
    EXPECT_TRUE(plat::runUntil(
        [&] {
            for (int row = 0; row < list.rowCount(); ++row)
                if (list.cellText(row, ui::CatalogColumn::FileName) == "after-query.txt")
                    return true;
            return false;
        },
        5000));

    w.dlg->endSession();
    EXPECT_EQ(ended, 1);
}

// The connection buttons run the connection dialogs over the window's list (ConnectionCommands).
using CPavoDlgConnections = MainWindowFixture;

TEST_F(CPavoDlgConnections, WithoutALinkedMessagingClientANewConnectionStartsAsTcp)
{
    ASSERT_FALSE(window->transfer().messagingClientLinked());
    OnModal<CDialogConnectMethod> user([](CDialogConnectMethod& d) {
        EXPECT_TRUE(d.controls().tcp->isChecked());
        EXPECT_TRUE(d.controls().host->isEnabled());
        d.reject();
    });
    window->controls().addConnection->click();
    EXPECT_TRUE(user.shown);
}

TEST_F(CPavoDlgConnections, AnAddedConnectionIsSavedAndReadBack)
{
    OnModal<CDialogConnectMethod> user([](CDialogConnectMethod& d) {
        d.controls().tcp->click();
        d.controls().host->setText(QStringLiteral("example"));
        d.controls().nodeName->setText(QStringLiteral("NodeB"));
        d.accept();
    });
    window->controls().addConnection->click();
    ASSERT_TRUE(user.shown);
    ASSERT_EQ(window->settings().getConnectCount(), 1);

    NodeSettings reread(dir.path());
    reread.load();
    ASSERT_EQ(reread.connections().records().size(), 1u);
    EXPECT_EQ(reread.connections().records()[0], (ConnectionRecord{"NodeB", "TCP", "example", ""}));
}

// The records still to be sent to a peer lie in CATALOG/<node name>.dat; a connection renamed in
// the dialog takes them along, unless another connection of the old name still uses that file.
TEST_F(CPavoDlgConnections, RenamingAConnectionTakesItsPendingFileAlong)
{
    const std::vector<std::uint8_t> pending = recordfiles::recordsBytes(
        {recordfiles::markedRecord("NodeA", "a.txt", 1, [](auto& r) { r.setPendingFlag(1); })});
    const std::string folder = dir.file("CATALOG");
    plat::makeFolders(folder);
    recordfiles::writeFile(folder + "/NodeB.dat", pending);
    recordfiles::writeFile(folder + "/Twin.dat", pending);
    for (const char* node : {"NodeB", "Twin", "Twin"})
        window->settings().connections().append({node, "TCP", "example", {}});
    const auto renameRow = [&](int row, const char* newName) {
        window->rows().selectRow(row);
        OnModal<CDialogConnectMethod> user([newName](CDialogConnectMethod& d) {
            d.controls().nodeName->setText(QString::fromUtf8(newName));
            d.accept();
        });
        window->controls().changeConnection->click();
        ASSERT_TRUE(user.shown);
    };

    renameRow(0, "NodeC");
    EXPECT_FALSE(plat::fileExists(folder + "/NodeB.dat"));
    EXPECT_EQ(recordfiles::readFile(folder + "/NodeC.dat"), pending);

    renameRow(1, "Single");
    EXPECT_EQ(recordfiles::readFile(folder + "/Twin.dat"), pending) << "row 2 still queues there";
    EXPECT_FALSE(plat::fileExists(folder + "/Single.dat"));
}
