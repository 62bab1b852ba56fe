#include "ui/CSystemPropatyDlg.h"

#include "app/CMultiCheck.h"
#include "support/RecordingPrompt.h"
#include "support/TempDir.h"
#include "ui/ElidedLabel.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

using Values = CSystemPropatyDlg::Values;

// Instance guards take their locks in a runtime folder of the test's own.
class SystemPropatyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_oldRuntime = old;
        ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_oldRuntime)
            ::setenv("XDG_RUNTIME_DIR", m_oldRuntime->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    static Values valid()
    {
        Values v;
        v.nodeName = "NodeA";
        v.partyName = "party";
        v.limitDay = 3;
        v.sendFolder = "/w/SEND";
        v.recvFolder = "/w/RECV";
        return v;
    }

    CMultiCheck guard;
    RecordingPrompt prompt;

private:
    TempDir m_runtime;
    std::optional<std::string> m_oldRuntime;
};

struct CheckCase
{
    const char* party;
    const char* node;
    const char* days;
    const char* message; // empty: accepted
    int focus;           // 0 none, 1 party, 2 node, 3 expiry
};

} // namespace

TEST_F(SystemPropatyTest, OkChecksInOrderAndFocusesTheFieldNamed)
{
    const std::string longNode(31, 'n');
    const std::string node30(30, 'n');
    const CheckCase cases[] = {
        // The field checks come first: a value that cannot be read is refused before the rest.
        {"", "", "x", "整数を入力してください。", 3},
        {"party", longNode.c_str(), "3", "全角15文字・半角30文字以内で入力してください。", 2},
        {"ぱーてぃーぱーてぃX", "NodeA", "3", "全角9文字・半角18文字以内で入力してください。", 1},
        {"", "", "3", "パーティ名が設定されていません。", 1},
        {" party", "", "3", "パーティ名にスペースを含む名前は設定できません。", 1},
        {"par ty", "NodeA", "3", "パーティ名にスペースを含む名前は設定できません。", 1},
        {"café", "NodeA", "3", "パーティ名に使用できない文字が含まれています。", 1},
        {"party", "", "3", "ノード名が設定されていません。", 2},
        {"party", "Node A", "3", "ノード名にスペースを含む名前は設定できません。", 2},
        {"party", "a/b", "3", "ノード名に使用できない文字が含まれています。", 2},
        {"party", "..", "3", "ノード名に使用できない文字が含まれています。", 2},
        {"party", "NodeA", "0", "有効期限は1日から36500日までの日数を設定してください。", 3},
        {"party", "NodeA", "-2", "有効期限は1日から36500日までの日数を設定してください。", 3},
        {"party", "NodeA", "36501", "有効期限は1日から36500日までの日数を設定してください。", 3},
        {"party", "NodeA", " 7 ", "", 0},
        {"ぱーてぃーぱーてぃ", node30.c_str(), "36500", "", 0},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(std::string(c.party) + "|" + c.node + "|" + c.days);
        prompt.clear();
        CSystemPropatyDlg d(valid(), guard);
        const auto& ui = d.controls();
        ui.partyName->setText(QString::fromUtf8(c.party));
        ui.nodeName->setText(QString::fromUtf8(c.node));
        ui.limitDay->setText(QString::fromUtf8(c.days));
        d.accept();
        if (*c.message == 0) {
            EXPECT_TRUE(prompt.all.empty()) << prompt.all.front();
            EXPECT_EQ(d.result(), QDialog::Accepted);
            continue;
        }
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
        EXPECT_NE(d.result(), QDialog::Accepted);
        QWidget* expected[] = {nullptr, ui.partyName, ui.nodeName, ui.limitDay};
        EXPECT_EQ(d.focusWidget(), expected[c.focus]);
    }
}

TEST_F(SystemPropatyTest, APartyNameAnotherRunningNodeHoldsIsRefused)
{
    CMultiCheck other; // as another process would: its own lock on the name
    ASSERT_EQ(other.check("held"), 1);
    ASSERT_EQ(guard.check("party"), 1);

    CSystemPropatyDlg d(valid(), guard);
    d.controls().partyName->setText(QStringLiteral("held"));
    d.accept();
    EXPECT_EQ(prompt.messages,
              std::vector<std::string>{"パーティ名は既に実行中です。この名前は設定できません"});
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_EQ(guard.currentName(), "party");

    d.controls().partyName->setText(QStringLiteral("free"));
    d.accept();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.values().partyName, "free");
    EXPECT_EQ(guard.currentName(), "free");
}

TEST_F(SystemPropatyTest, UseSkypeIdFollowsTheClientsUser)
{
    {
        Values v = valid();
        v.ownSkypeId = "NodeA";
        CSystemPropatyDlg d(v, guard);
        EXPECT_TRUE(d.controls().useSkypeId->isChecked());
        EXPECT_FALSE(d.controls().nodeName->isEnabled());
    }
    {
        // Not known yet: the box cannot be set.
        CSystemPropatyDlg d(valid(), guard);
        EXPECT_FALSE(d.controls().useSkypeId->isChecked());
        d.controls().useSkypeId->click();
        EXPECT_EQ(prompt.messages,
                  std::vector<std::string>{
                      "SkypeIdが未取得です。Skypeと接続しているか確認してください。"});
        EXPECT_FALSE(d.controls().useSkypeId->isChecked());
        EXPECT_TRUE(d.controls().nodeName->isEnabled());
    }
    {
        Values v = valid();
        v.ownSkypeId = "alice";
        CSystemPropatyDlg d(v, guard);
        const auto& ui = d.controls();
        ui.useSkypeId->click();
        EXPECT_EQ(ui.nodeName->text().toStdString(), "alice");
        EXPECT_FALSE(ui.nodeName->isEnabled());
        ui.useSkypeId->click();
        EXPECT_TRUE(ui.nodeName->isEnabled());
        EXPECT_EQ(ui.nodeName->text().toStdString(), "alice");
        ui.useSkypeId->click();
        d.accept();
        ASSERT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(d.values().nodeName, "alice");
    }
}

TEST_F(SystemPropatyTest, ListenPortChangesOnlyWithTheBoxSet)
{
    {
        CSystemPropatyDlg d(valid(), guard);
        EXPECT_FALSE(d.controls().changePort->isChecked());
        EXPECT_FALSE(d.controls().port->isEnabled());
        EXPECT_EQ(d.controls().port->value(), 42000);
    }
    Values v = valid();
    v.listenPort = 43000;
    CSystemPropatyDlg d(v, guard);
    const auto& ui = d.controls();
    EXPECT_TRUE(ui.changePort->isChecked());
    EXPECT_TRUE(ui.port->isEnabled());
    ui.port->setValue(44000);
    ui.changePort->click();
    EXPECT_EQ(ui.port->value(), 42000);
    EXPECT_FALSE(ui.port->isEnabled());
    ui.changePort->click();
    ui.port->setValue(0);
    EXPECT_EQ(ui.port->value(), 1);
    ui.port->setValue(45000);
    d.accept();
    ASSERT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.values().listenPort, 45000);
}

TEST_F(SystemPropatyTest, ShowsTheValuesAndTheFoldersCannotBeChanged)
{
    Values v = valid();
    v.window = CSystemPropatyDlg::kWindowClosed;
    v.limitDay = 12;
    CSystemPropatyDlg d(v, guard);
    const auto& ui = d.controls();
    EXPECT_EQ(ui.partyName->text().toStdString(), "party");
    EXPECT_EQ(ui.nodeName->text().toStdString(), "NodeA");
    EXPECT_EQ(ui.limitDay->text().toStdString(), "12");
    EXPECT_TRUE(ui.windowClosed->isChecked());
    EXPECT_EQ(ui.sendFolder->text().toStdString(), "/w/SEND");
    EXPECT_EQ(ui.recvFolder->text().toStdString(), "/w/RECV");
    EXPECT_FALSE(ui.sendFolderButton->isEnabled());
    EXPECT_FALSE(ui.recvFolderButton->isEnabled());
    ui.windowOpen->click();
    d.accept();
    EXPECT_EQ(d.values().window, CSystemPropatyDlg::kWindowOpen);
    EXPECT_EQ(d.values().limitDay, 12);
}

TEST_F(SystemPropatyTest, LongFolderPathsAreElidedInTheMiddleAndTheDialogFitsTheScreen)
{
    Values v = valid();
    const std::string deep = "/home/someone/" + std::string(150, 'x') + "/pavo";
    v.sendFolder = deep + "/SEND";
    v.recvFolder = deep + "/RECV";
    CSystemPropatyDlg d(v, guard);
    d.show();
    EXPECT_LE(d.frameGeometry().width(), 1024);
    EXPECT_LE(d.frameGeometry().height(), 768);
    for (const ElidedLabel* label : {d.controls().sendFolder, d.controls().recvFolder}) {
        const std::string shown = label->shownText().toStdString();
        const std::string full = label->fullText().toStdString();
        EXPECT_EQ(label->toolTip().toStdString(), full);
        EXPECT_LT(shown.size(), full.size());
        EXPECT_EQ(shown.rfind("/home/", 0), 0u) << shown;
        EXPECT_EQ(shown.substr(shown.size() - 5), full.substr(full.size() - 5)) << shown;
        EXPECT_NE(shown.find("…"), std::string::npos) << shown;
    }
}

TEST_F(SystemPropatyTest, ThePartyKeyIsTypedHiddenAndChangedOnlyOffLine)
{
    using KeyChange = Values::KeyChange;
    struct Case
    {
        const char* name;
        bool keySet;
        bool online;
        const char* party; // as typed
        const char* passphrase;
        bool remove;
        const char* message; // empty: accepted
        KeyChange change;
    };
    const char* const kOnline =
        "オンライン中はパーティ鍵を変更できません。オフラインにしてから設定してください。";
    const char* const kRenamed =
        "パーティ鍵はパーティ名から作られます。パーティ名を変えるときは合言葉も入力してください。";
    // The start of the message: the estimate follows.
    const char* const kWeak =
        "この合言葉は推測されやすいため設定できません（よく使われる単語や名前でできています。";
    // 400 three-byte characters: within the field's length, beyond the byte limit.
    std::string kLong;
    for (int i = 0; i < 400; ++i)
        kLong += "鍵";
    const char* const kTooLong = "合言葉は1024バイト以内で入力してください。";
    const Case cases[] = {
        {"nothing typed, no key", false, false, "party", "", false, "", KeyChange::Keep},
        {"a new key", false, false, "party", "violet wagon seventy crumbs", false, "",
         KeyChange::Set},
        {"a key kept", true, false, "party", "", false, "", KeyChange::Keep},
        {"a key removed", true, false, "party", "", true, "", KeyChange::Remove},
        {"renamed with the passphrase", true, false, "other", "violet wagon seventy crumbs", false,
         "", KeyChange::Set},
        {"renamed without it", true, false, "other", "", false, kRenamed, KeyChange::Keep},
        {"typed while on line", false, true, "party", "violet wagon seventy crumbs", false, kOnline,
         KeyChange::Set},
        {"kept while on line", true, true, "party", "", false, "", KeyChange::Keep},
        {"guessable", false, false, "party", "our passphrase", false, kWeak, KeyChange::Set},
        {"too long", false, false, "party", kLong.c_str(), false, kTooLong, KeyChange::Set},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.clear();
        Values v = valid();
        v.partyKeySet = c.keySet;
        v.online = c.online;
        CSystemPropatyDlg d(v, guard);
        const auto& ui = d.controls();
        EXPECT_EQ(ui.partyKey->echoMode(), QLineEdit::Password);
        EXPECT_EQ(ui.partyKey->isEnabled(), !c.online);
        EXPECT_EQ(ui.removePartyKey->isVisibleTo(&d), c.keySet);
        ui.partyName->setText(QString::fromUtf8(c.party));
        ui.partyKey->setText(QString::fromUtf8(c.passphrase));
        ui.removePartyKey->setChecked(c.remove);
        d.accept();
        if (*c.message) {
            ASSERT_EQ(prompt.messages.size(), 1u);
            EXPECT_EQ(prompt.messages[0].rfind(c.message, 0), 0u) << prompt.messages[0];
            EXPECT_NE(d.result(), QDialog::Accepted);
            EXPECT_EQ(d.focusWidget(), c.online ? nullptr : ui.partyKey);
            continue;
        }
        EXPECT_TRUE(prompt.all.empty()) << prompt.all.front();
        ASSERT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(d.values().keyChange, c.change);
        if (c.change == KeyChange::Set) {
            EXPECT_EQ(d.values().passphrase, c.passphrase);
        }
    }

    // "表示" shows the passphrase in clear and hides it again.
    CSystemPropatyDlg d(valid(), guard);
    d.controls().showPartyKey->setChecked(true);
    EXPECT_EQ(d.controls().partyKey->echoMode(), QLineEdit::Normal);
    d.controls().showPartyKey->setChecked(false);
    EXPECT_EQ(d.controls().partyKey->echoMode(), QLineEdit::Password);

    // "鍵を作る" puts a new code in the field, shown so it can be passed on, and it is taken.
    prompt.clear();
    d.controls().makePartyKey->click();
    const std::string code = d.controls().partyKey->text().toStdString();
    EXPECT_EQ(code.size(), 34u);
    EXPECT_EQ(d.controls().partyKey->echoMode(), QLineEdit::Normal);
    EXPECT_TRUE(d.controls().madeKey->isVisibleTo(&d));
    d.accept();
    EXPECT_TRUE(prompt.all.empty());
    EXPECT_EQ(d.values().keyChange, KeyChange::Set);
    EXPECT_EQ(d.values().passphrase, code);
}
