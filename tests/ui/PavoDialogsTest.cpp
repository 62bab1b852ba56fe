#include "ui/PavoDialogs.h"

#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "platform/Files.h"
#include "support/RecordFiles.h"
#include "support/RecordingPrompt.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CDialogConnectMethod.h"
#include "ui/CPavoDlg.h"
#include "ui/CSyncDlg.h"
#include "ui/CSystemPropatyDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

namespace {

// Plays the user on the next modal dialog of type Dialog once it is shown; records whether one
// came at all.
template <class Dialog> class OnModal
{
public:
    explicit OnModal(std::function<void(Dialog&)> play)
    {
        QTimer::singleShot(0, [this, play] {
            if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                shown = true;
                play(*d);
            }
        });
    }
    bool shown = false;
};

// The main window over a private working folder, not started: its settings, lists and dialogs
// work without the transports running.
class PavoDialogsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_oldRuntime = old;
        ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
        node = std::make_unique<PavoNode>(dir.path(), NodeOptions{});
        window = std::make_unique<CPavoDlg>(*node, true);
        window->settings().setPartyName("party");
        window->settings().setNodeName("NodeA");
    }
    void TearDown() override
    {
        window.reset();
        node.reset();
        if (m_oldRuntime)
            ::setenv("XDG_RUNTIME_DIR", m_oldRuntime->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    std::string ini() const { return readText(window->settings().iniFileName()); }

    TempDir dir;
    RecordingPrompt prompt;
    std::unique_ptr<PavoNode> node;
    std::unique_ptr<CPavoDlg> window;

private:
    TempDir m_runtime;
    std::optional<std::string> m_oldRuntime;
};

} // namespace

TEST_F(PavoDialogsTest, SyncWantsASelectedConnectedRow)
{
    window->settings().connections().append({"NodeB", "TCP", "127.0.0.1", {}});

    OnModal<CSyncDlg> noDialog([](CSyncDlg& d) { d.reject(); });
    PavoDialogs::catalogSync(*window);
    EXPECT_TRUE(prompt.all.empty());

    window->rows().selectRow(0);
    PavoDialogs::catalogSync(*window);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"選択したノードは接続していません"});
    QApplication::processEvents();
    EXPECT_FALSE(noDialog.shown);
}

TEST_F(PavoDialogsTest, AcceptedPropertiesAreAppliedAndSaved)
{
    OnModal<CSystemPropatyDlg> user([](CSystemPropatyDlg& d) {
        const auto& ui = d.controls();
        EXPECT_EQ(ui.partyName->text().toStdString(), "party");
        ui.partyName->setText(QStringLiteral("renamed"));
        ui.nodeName->setText(QStringLiteral("NodeZ"));
        ui.limitDay->setText(QStringLiteral("9"));
        ui.windowClosed->click();
        ui.changePort->click();
        ui.port->setValue(43001);
        d.accept();
    });
    window->controls().systemSettings->click();
    ASSERT_TRUE(user.shown);
    EXPECT_TRUE(prompt.all.empty());
    EXPECT_EQ(window->settings().getPartyName(), "renamed");
    EXPECT_EQ(window->settings().getNodeName(), "NodeZ");
    EXPECT_EQ(window->settings().getLimitDay(), 9);
    EXPECT_EQ(window->settings().getWindow(), 1);
    EXPECT_EQ(window->settings().getListenPort(), 43001);
    EXPECT_EQ(window->windowTitle().toStdString(), "Pavo [renamed] - NodeZ");
    EXPECT_EQ(window->tray().toolTip(), "Pavo [renamed] - NodeZ\r\nOFFLINE");
    const std::string saved = ini();
    for (const char* line :
         {"PARTY=renamed", "NAME=NodeZ", "LIMITDAY=9", "WINDOW=1", "LISTENPORT=43001"})
        EXPECT_NE(saved.find(line), std::string::npos) << line << "\n" << saved;
}

TEST_F(PavoDialogsTest, FirstStartIntroducesThePropertiesThenPointsToAddingAConnection)
{
    window->settings().setPartyName("");
    window->settings().setNodeName("");
    OnModal<CSystemPropatyDlg> cancel([](CSystemPropatyDlg& d) {
        EXPECT_TRUE(d.controls().introduction->isVisibleTo(&d));
        EXPECT_FALSE(d.controls().introduction->text().isEmpty());
        d.reject();
    });
    PavoDialogs::firstStart(*window);
    ASSERT_TRUE(cancel.shown);
    EXPECT_TRUE(prompt.all.empty()); // cancelled: no further pointers

    OnModal<CSystemPropatyDlg> fill([](CSystemPropatyDlg& d) {
        d.controls().partyName->setText(QStringLiteral("party"));
        d.controls().nodeName->setText(QStringLiteral("NodeA"));
        d.accept();
    });
    PavoDialogs::firstStart(*window);
    ASSERT_TRUE(fill.shown);
    EXPECT_EQ(window->settings().getNodeName(), "NodeA");
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("「追加」"), std::string::npos);

    // The ordinary "システム設定" has no introduction.
    OnModal<CSystemPropatyDlg> plain([](CSystemPropatyDlg& d) {
        EXPECT_FALSE(d.controls().introduction->isVisibleTo(&d));
        d.reject();
    });
    window->controls().systemSettings->click();
    EXPECT_TRUE(plain.shown);
}

TEST_F(PavoDialogsTest, WithoutALinkedMessagingClientANewConnectionStartsAsTcp)
{
    ASSERT_FALSE(PavoDialogs::messagingClientLinked(*window));
    OnModal<CDialogConnectMethod> user([](CDialogConnectMethod& d) {
        EXPECT_TRUE(d.controls().tcp->isChecked());
        EXPECT_TRUE(d.controls().host->isEnabled());
        d.reject();
    });
    window->controls().addConnection->click();
    EXPECT_TRUE(user.shown);
}

TEST_F(PavoDialogsTest, CancelledPropertiesChangeNothing)
{
    // What the node wrote at its start (its identity key) stays as it was.
    const std::string before = ini();
    OnModal<CSystemPropatyDlg> user([](CSystemPropatyDlg& d) {
        d.controls().partyName->setText(QStringLiteral("renamed"));
        d.reject();
    });
    window->controls().systemSettings->click();
    ASSERT_TRUE(user.shown);
    EXPECT_EQ(window->settings().getPartyName(), "party");
    EXPECT_EQ(ini(), before);
    EXPECT_EQ(ini().find("party"), std::string::npos);
}

TEST_F(PavoDialogsTest, AnAddedConnectionIsSavedAndReadBack)
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
TEST_F(PavoDialogsTest, RenamingAConnectionTakesItsPendingFileAlong)
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
