#include "ui/ConnectionCommands.h"

#include "support/RecordingPrompt.h"
#include "ui/CConnectListCtrl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <functional>

namespace {

using Values = CDialogConnectMethod::Values;
// Fills the dialog's controls; true presses OK, false cancels.
using Script = std::function<bool(CDialogConnectMethod&)>;

// Plays the user on the real dialog.
class ConnectionCommandsTest : public ::testing::Test
{
protected:
    ConnectionCommandsTest() { rows.display(&connections); }

    ConnectionList connections;
    CConnectListCtrl rows;
    RecordingPrompt prompt;
    int saves = 0;
    std::vector<std::string> contactIds{"alice", "bob"};
    Script script;
    std::vector<Values> opened; // the values each dialog was opened with

    ConnectionCommands commands{connections, rows, [this] { ++saves; },
                                [this](const Values& initial) {
                                    opened.push_back(initial);
                                    CDialogConnectMethod d(initial, [this] { return contactIds; });
                                    if (!script || script(d))
                                        d.accept();
                                    return d.result() == QDialog::Accepted
                                               ? std::optional<Values>(d.values())
                                               : std::nullopt;
                                }};

    std::vector<std::string> row(int r) const
    {
        std::vector<std::string> cells;
        for (int c : {CConnectListCtrl::NodeName, CConnectListCtrl::Method,
                      CConnectListCtrl::Address, CConnectListCtrl::Comment})
            cells.push_back(rows.cell(r, c));
        return cells;
    }

    void addRow(const std::string& node, const std::string& method, const std::string& address)
    {
        connections.append({node, method, address, {}});
    }

    static Script tcpWithPort(const char* host, const char* node, int port)
    {
        return [=](CDialogConnectMethod& d) {
            const auto& ui = d.controls();
            ui.tcp->click();
            ui.host->setText(QString::fromUtf8(host));
            ui.nodeName->setText(QString::fromUtf8(node));
            if (port != 0) {
                ui.portFlag->click();
                ui.port->setValue(port);
            }
            return true;
        };
    }
};

} // namespace

TEST_F(ConnectionCommandsTest, AddTcpWithAPortWritesHostSlashPortAndSaves)
{
    prompt.script({plat::Answer::Ok}); // the port warning
    script = [](CDialogConnectMethod& d) {
        tcpWithPort("example", "NodeB", 990)(d);
        d.controls().comment->setText(QStringLiteral("会社"));
        return true;
    };
    commands.add();
    ASSERT_EQ(rows.count(), 1);
    EXPECT_EQ(row(0), (std::vector<std::string>{"NodeB", "TCP", "example/990", "会社"}));
    EXPECT_EQ(connections.hostName(0), "example");
    EXPECT_EQ(connections.port(0), 990);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(opened.at(0).method, CDialogConnectMethod::kSkype);

    script = tcpWithPort("plain", "NodeC", 0);
    commands.add();
    EXPECT_EQ(row(1), (std::vector<std::string>{"NodeC", "TCP", "plain", ""}));
    EXPECT_EQ(connections.port(1), 42000);
}

TEST_F(ConnectionCommandsTest, AddSkypeNamesTheRowAfterTheContact)
{
    script = [](CDialogConnectMethod& d) {
        d.controls().skypeIds->setCurrentIndex(1);
        return true;
    };
    commands.add();
    EXPECT_EQ(row(0), (std::vector<std::string>{"bob", "SKYPE", "bob", ""}));
}

TEST_F(ConnectionCommandsTest, ChangeOpensWithTheRowAndKeepsASkypeRowsNodeName)
{
    addRow("NodeB", "TCP", "example/990");
    addRow("learnt", "SKYPE", "alice");

    // The TCP row opens with its host, port and node name.
    rows.selectRow(0);
    script = [](CDialogConnectMethod& d) {
        EXPECT_EQ(d.controls().host->text().toStdString(), "example");
        EXPECT_TRUE(d.controls().portFlag->isChecked());
        EXPECT_EQ(d.controls().port->value(), 990);
        EXPECT_EQ(d.controls().nodeName->text().toStdString(), "NodeB");
        d.controls().skype->click();
        d.controls().skypeIds->setCurrentIndex(1);
        return true;
    };
    commands.change();
    // Now a Skype row, still under the node name it had.
    EXPECT_EQ(row(0), (std::vector<std::string>{"NodeB", "SKYPE", "bob", ""}));

    // Changing a Skype row's contact leaves the node name learnt from the peer.
    rows.selectRow(1);
    script = [](CDialogConnectMethod& d) {
        d.controls().skypeIds->setCurrentIndex(1);
        return true;
    };
    commands.change();
    EXPECT_EQ(row(1), (std::vector<std::string>{"learnt", "SKYPE", "bob", ""}));

    // And back to TCP: the row takes the node name typed.
    rows.selectRow(0);
    script = tcpWithPort("example", "NodeB2", 0);
    commands.change();
    EXPECT_EQ(row(0), (std::vector<std::string>{"NodeB2", "TCP", "example", ""}));
    EXPECT_EQ(saves, 3);
}

TEST_F(ConnectionCommandsTest, CancelAndMissingSelectionChangeNothing)
{
    addRow("NodeB", "TCP", "example");
    script = [](CDialogConnectMethod& d) {
        d.controls().nodeName->setText(QStringLiteral("other"));
        return false;
    };
    rows.selectRow(0);
    commands.change();
    commands.add();
    EXPECT_EQ(rows.count(), 1);
    EXPECT_EQ(row(0), (std::vector<std::string>{"NodeB", "TCP", "example", ""}));

    rows.clearSelection();
    opened.clear();
    commands.change();
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(prompt.all.empty());
    commands.remove();
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"削除する接続を選択してください。"});
    EXPECT_EQ(saves, 0);
}

TEST_F(ConnectionCommandsTest, DeleteAsksFirst)
{
    addRow("NodeB", "TCP", "b");
    addRow("NodeC", "TCP", "c");
    rows.selectRow(0);
    prompt.script({plat::Answer::No});
    commands.remove();
    EXPECT_EQ(prompt.questions, std::vector<std::string>{"接続を削除しますか？"});
    EXPECT_EQ(rows.count(), 2);
    EXPECT_EQ(saves, 0);

    prompt.script({plat::Answer::Yes});
    commands.remove();
    ASSERT_EQ(rows.count(), 1);
    EXPECT_EQ(rows.cell(0, CConnectListCtrl::NodeName), "NodeC");
    EXPECT_EQ(saves, 1);
}

TEST_F(ConnectionCommandsTest, AnEleventhConnectionIsRefusedBeforeTheDialogOpens)
{
    for (int i = 0; i < 9; ++i)
        addRow("Node" + std::to_string(i), "TCP", "h" + std::to_string(i));
    script = tcpWithPort("h9", "Node9", 0);
    commands.add();
    EXPECT_EQ(rows.count(), 10);
    opened.clear();
    commands.add();
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(rows.count(), 10);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"接続先は10件までしか設定できません。"});
    EXPECT_EQ(saves, 1);
}
