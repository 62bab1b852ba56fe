#include "nodeui/CNodeInfoDlg.h"

#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "nodeui/CNodeDetailDlg.h"
#include "nodeui/CNodeFileDlg.h"
#include "nodeui/CNodePropatyDlg.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "support/RecordingPrompt.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

std::vector<std::string> column(QTableWidget& list, int c)
{
    std::vector<std::string> texts;
    for (int r = 0; r < list.rowCount(); ++r)
        texts.push_back(list.item(r, c)->text().toStdString());
    return texts;
}

std::vector<std::string> items(QListWidget& list)
{
    std::vector<std::string> texts;
    for (int r = 0; r < list.count(); ++r)
        texts.push_back(list.item(r)->text().toStdString());
    return texts;
}

// The node-information window of node "Own" (connections alpha, beta, gamma) in its own folder.
class NodeInfoWindow : public ::testing::Test
{
protected:
    NodeInfoWindow() : settings(dir.path())
    {
        settings.setNodeName("Own");
        settings.setPartyName("party");
        for (const char* peer : {"alpha", "beta", "gamma"})
            settings.connections().append({peer, "TCP", "localhost", {}});
        plat::makeFolders(settings.getSendFolder());
        plat::makeFolders(settings.getRecvFolder());
    }

    // As the node starts: the own information loaded and published, then the window over it.
    void open()
    {
        store.loadOwnInfo();
        store.refresh();
        window.initialise(store, nullptr, settings);
    }

    // The file node would publish, as received here.
    void receive(const std::string& node, int presence = 0, const std::string& mail = {})
    {
        CNodeInfo info;
        info.nodeName = node;
        info.presence = presence;
        info.mailAddress = mail;
        info.version = "Ver.:9";
        const auto image = nodeinfo::encode(info);
        const std::string folder = plat::joinPath(settings.getRecvFolder(), node);
        plat::makeFolders(folder);
        std::ofstream(plat::joinPath(folder, NodeInfoStore::kFileName), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }

    int rowOf(const std::string& node)
    {
        const auto names = column(window.nodeList(), 0);
        const auto it = std::find(names.begin(), names.end(), node);
        return it == names.end() ? -1 : int(it - names.begin());
    }

    std::optional<std::string> selectedNode()
    {
        const auto ranges = window.nodeList().selectedRanges();
        if (ranges.isEmpty())
            return std::nullopt;
        return window.nodeList().item(ranges.first().topRow(), 0)->text().toStdString();
    }

    TempDir dir;
    NodeSettings settings;
    NodeInfoStore store{settings, [](const std::string&, const std::string&) {
                            return std::optional<CatalogRecord>();
                        }};
    RecordingPrompt prompt;
    CNodeInfoDlg window;
};

TEST_F(NodeInfoWindow, CreationPublishesAndListsEveryKnownNode)
{
    receive("beta", CNodeInfo::PRESENCE_ABSENT);
    open();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(plat::fileExists(window.store().ownFilePath()));
    EXPECT_EQ(column(window.nodeList(), 0), (std::vector<std::string>{"Own", "beta"}));
    EXPECT_EQ(column(window.nodeList(), 1),
              (std::vector<std::string>{"在席(コンタクト可)", "不在"}));
    EXPECT_EQ(column(window.nodeList(), 3)[1], "Ver.:9");
    EXPECT_EQ(window.presenceGroup().checkedId(), CNodeInfo::PRESENCE_CONTACTABLE);

    window.rowClicked(0);
    EXPECT_EQ(items(window.detail().neighbourList()),
              (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(window.files().node(), std::optional<std::string>("Own"));
    EXPECT_TRUE(window.files().ownNode());
}

TEST_F(NodeInfoWindow, AbsenceIsSavedAtOnceAndShownAfterTheNextStep)
{
    open();
    window.presenceGroup().button(CNodeInfo::PRESENCE_ABSENT)->click();
    EXPECT_EQ(plat::IniFile(settings.iniFileName()).getString("SYSTEM", "NODESTATUS", ""), "2");
    EXPECT_EQ(column(window.nodeList(), 1)[0], "在席(コンタクト可)");
    window.publish();
    EXPECT_EQ(column(window.nodeList(), 1)[0], "不在");
    const auto published = NodeInfoStore::readFile(window.store().ownFilePath());
    ASSERT_TRUE(published);
    EXPECT_EQ(published->presence, CNodeInfo::PRESENCE_ABSENT);
}

TEST_F(NodeInfoWindow, SelectionAndDetailsFollowTheRefreshedList)
{
    receive("gamma", CNodeInfo::PRESENCE_CONTACTABLE, "old@example.org");
    open();
    const int gamma = rowOf("gamma");
    window.nodeList().selectRow(gamma);
    window.rowClicked(gamma);
    EXPECT_EQ(window.detail().mailLabel().text().toStdString(), "old@example.org");

    receive("beta"); // a row before the selected one
    receive("gamma", CNodeInfo::PRESENCE_ABSENT, "new@example.org");
    window.publish();
    EXPECT_EQ(column(window.nodeList(), 0), (std::vector<std::string>{"Own", "beta", "gamma"}));
    EXPECT_EQ(selectedNode(), std::optional<std::string>("gamma"));
    EXPECT_EQ(window.detail().mailLabel().text().toStdString(), "new@example.org");
}

TEST_F(NodeInfoWindow, ColumnsAreAsWideAsTheirTextsAndHeaders)
{
    receive("a-node-with-a-rather-long-name", CNodeInfo::PRESENCE_NOT_CONTACTABLE);
    open();
    QTableWidget& list = window.nodeList();
    const QFontMetrics fm = list.fontMetrics();
    for (int c = 0; c < list.columnCount(); ++c) {
        int widest = fm.horizontalAdvance(list.horizontalHeaderItem(c)->text());
        for (int r = 0; r < list.rowCount(); ++r)
            widest = std::max(widest, fm.horizontalAdvance(list.item(r, c)->text()));
        EXPECT_GT(list.columnWidth(c), widest) << c;
    }
}

TEST_F(NodeInfoWindow, OwnInformationIsEditedAndSavedOnOkOnly)
{
    open();
    std::vector<std::string> notices;
    window.setNotice([&](const std::string& text) { notices.push_back(text); });
    std::string offered;
    window.setSkypeIdSource([] { return std::string("me.skype"); });
    window.setDialogRunner([&](CNodePropatyDlg& dialog) {
        offered = dialog.skypeIdEdit().text().toStdString();
        EXPECT_TRUE(dialog.autoButton().isEnabled());
        dialog.autoButton().click();
        dialog.mailEdit().setText(QStringLiteral("me@example.org"));
        dialog.informationEdit().setPlainText(QStringLiteral("外出中"));
        dialog.accept();
        return dialog.result();
    });
    window.editOwnInfo();
    EXPECT_EQ(offered, "");
    const plat::IniFile ini(settings.iniFileName());
    EXPECT_EQ(ini.getString("SYSTEM", "NODESKYPEID", ""), "me.skype");
    EXPECT_EQ(ini.getString("SYSTEM", "NODEMAILADR", ""), "me@example.org");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].rfind("自ノード情報を保存しました。", 0), 0u);

    window.setSkypeIdSource([] { return std::string(); });
    window.setDialogRunner([](CNodePropatyDlg& dialog) {
        EXPECT_FALSE(dialog.autoButton().isEnabled());
        EXPECT_EQ(dialog.informationEdit().toPlainText().toStdString(), "外出中");
        dialog.mailEdit().setText(QStringLiteral("changed@example.org"));
        dialog.reject();
        return dialog.result();
    });
    window.editOwnInfo();
    EXPECT_EQ(ini.getString("SYSTEM", "NODEMAILADR", ""), "me@example.org");
    EXPECT_EQ(window.store().own().mailAddress, "me@example.org");
    EXPECT_EQ(notices.size(), 1u); // cancelled: nothing saved, nothing said
}

TEST_F(NodeInfoWindow, CloseOnlyHidesAndPublishingGoesOn)
{
    open();
    window.showCentred();
    EXPECT_TRUE(window.isVisible());
    // Placed as the window it really is: wholly on the screen when it fits there.
    const QRect available = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    if (frame.width() <= available.width() && frame.height() <= available.height()) {
        EXPECT_TRUE(available.contains(frame)) << frame.x() << "," << frame.y();
    }
    EXPECT_EQ(window.size(), window.sizeHint().expandedTo(window.minimumSizeHint()));
    window.findChild<QPushButton*>(QStringLiteral("8"))->click();
    EXPECT_FALSE(window.isVisible());
    receive("late");
    window.publish();
    EXPECT_EQ(rowOf("late"), 1);
}

} // namespace
