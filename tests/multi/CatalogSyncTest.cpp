#include "support/MultiNode.h"
#include "support/RecordingPrompt.h"
#include "support/TempDir.h"

#include "app/NodeOptions.h"
#include "catalog/CCatalog.h"
#include "platform/EventLoop.h"
#include "platform/LocalTime.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CMsg.h"
#include "ui/CPavoDlg.h"
#include "ui/CSyncDlg.h"
#include "ui/MainWindowLayout.h"
#include "wire/CatalogRecord.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <set>

using namespace std::chrono_literals;
using namespace multi;

namespace {

// The in-process node reads the scale once, when its first timer starts; the peer process gets
// the same one. Peers are dialled every ~0.2 s and say hello about every 0.4 s.
const char* const kScale = "0.02";
const char* const kParty = "syncparty";
constexpr std::time_t kDay = 86400;

void configure(const std::string& dir, const std::string& name, int port, const std::string& peer,
               int peerPort)
{
    writeFile(dir + "/Pavo.ini", pavoIni(kParty, name, port, {IniPeer::tcp(peer, peerPort)}));
}

// A file of node C that node B received daysAgo days ago and keeps complete; every one expires
// in the future.
std::string receivedEntry(const std::string& dir, const std::string& name, std::time_t daysAgo)
{
    const std::string path = dir + "/RECV/NodeC/" + name;
    writeFile(path, std::string(1000 + name.size(), 'x'));
    const auto record =
        completeRecord(path, {"NodeC", kParty, 60, {std::time(nullptr) - daysAgo * kDay, 0}});
    EXPECT_TRUE(record);
    return record ? std::string(record->bytes.begin(), record->bytes.end()) : std::string();
}

// Node C's entries in A's catalog (the nodes' own node-information files travel as well).
std::set<std::string> entriesAtA()
{
    std::set<std::string> names;
    CCatalog* catalog = CCatalog::instance();
    for (int i = 0; i < catalog->count(); ++i) {
        const CatalogRecord r = catalog->getRecord(i);
        if (r.originNodeUtf8() == "NodeC")
            names.insert(r.fileNameUtf8());
    }
    return names;
}

// Answers the next synchronisation dialog: everything, or the day daysAgo days back.
void chooseRange(std::optional<int> daysAgo)
{
    QTimer::singleShot(0, [daysAgo] {
        auto* d = qobject_cast<CSyncDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        if (daysAgo) {
            d->sinceButton()->click();
            d->calendar()->setSelectedDate(QDate::currentDate().addDays(-*daysAgo));
        }
        d->accept();
    });
}

// Node B runs as a real process and holds three entries it received from node C, registered 20
// days ago, 3 days ago and now. Node A runs here with the real main window; it has lost its
// catalog: nothing of B's is pending for it any more, so only a synchronisation brings the
// entries back.
class CatalogSync : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::setenv("PAVO_TIME_SCALE", kScale, 1);
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_oldRuntime = old;
        ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
        const int portA = freePort();
        const int portB = freePort();
        configure(a.path(), "NodeA", portA, "NodeB", portB);
        configure(b.path(), "NodeB", portB, "NodeA", portA);
        writeFile(b.file("CATALOG/catalog.dat"), receivedEntry(b.path(), "old.txt", 20) +
                                                     receivedEntry(b.path(), "mid.txt", 3) +
                                                     receivedEntry(b.path(), "new.txt", 0));
        peer = std::make_unique<NodeProcess>(
            NodeProcess::pavoNode(b.path(), {"-D119", "-NOSKYPE"}, kScale));
        ASSERT_TRUE(peer->start());
        ASSERT_TRUE(peer->waitForOutput("DEBUG_MODE ON", 30s)) << peer->errors();
        // Both nodes run as with "-NOSKYPE".
        NodeOptions options;
        options.messagingClient = false;
        node = std::make_unique<PavoNode>(a.path(), options);
        window = std::make_unique<CPavoDlg>(*node, true);
        window->initialise();
    }

    void TearDown() override
    {
        window.reset();
        node.reset();
        if (peer) {
            peer->signal(SIGTERM);
            EXPECT_EQ(peer->waitExit(30s), 0) << peer->errors();
        }
        if (m_oldRuntime)
            ::setenv("XDG_RUNTIME_DIR", m_oldRuntime->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    void sync(std::optional<int> daysAgo)
    {
        prompt.script({plat::Answer::Yes});
        window->rows().selectRow(0);
        chooseRange(daysAgo);
        window->controls().catalogSync->click();
    }

    TempDir a;
    TempDir b;
    RecordingPrompt prompt;
    std::unique_ptr<NodeProcess> peer;
    std::unique_ptr<PavoNode> node;
    std::unique_ptr<CPavoDlg> window;

private:
    TempDir m_runtime;
    std::optional<std::string> m_oldRuntime;
};

} // namespace

TEST_F(CatalogSync, FromADateThenEverythingBringsBackThePeersEntries)
{
    ASSERT_TRUE(plat::runUntil([&] { return window->transfer().isConnected(0) == 1; }, 30000))
        << peer->output();
    // Several conversations pass (a hello about every 0.4 s) and bring nothing.
    plat::runFor(2000);
    EXPECT_TRUE(entriesAtA().empty());

    sync(3);
    EXPECT_EQ(prompt.questions.size(), 1u);
    // The request is said on the status line.
    EXPECT_EQ(window->controls().status->text().toStdString(),
              "「NodeB」にカタログ同期を要求しました。");
    const std::set<std::string> recent{"mid.txt", "new.txt"};
    EXPECT_TRUE(plat::runUntil([&] { return entriesAtA() == recent; }, 30000)) << peer->output();
    // The older entry is not on its way either.
    plat::runFor(2000);
    EXPECT_EQ(entriesAtA(), recent);

    sync(std::nullopt);
    EXPECT_EQ(prompt.questions.back(), "全データの同期を行います。よろしいですか？");
    const std::set<std::string> all{"old.txt", "mid.txt", "new.txt"};
    EXPECT_TRUE(plat::runUntil([&] { return entriesAtA() == all; }, 30000)) << peer->output();
    EXPECT_TRUE(prompt.messages.empty());
}
