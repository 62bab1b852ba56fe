#include "ui/CDialogConnectMethod.h"

#include "support/RecordingPrompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace {

using Values = CDialogConnectMethod::Values;

Values tcp(const std::string& host, const std::string& node)
{
    Values v;
    v.method = CDialogConnectMethod::kTcp;
    v.host = host;
    v.nodeName = node;
    return v;
}

Values skype(const std::string& id)
{
    Values v;
    v.method = CDialogConnectMethod::kSkype;
    v.skypeId = id;
    return v;
}

CDialogConnectMethod::ContactSource contacts(std::vector<std::string> ids)
{
    return [ids] { return ids; };
}

std::vector<std::string> listed(const CDialogConnectMethod& d)
{
    std::vector<std::string> items;
    for (int i = 0; i < d.controls().skypeIds->count(); ++i)
        items.push_back(d.controls().skypeIds->itemText(i).toStdString());
    return items;
}

bool accepted(const CDialogConnectMethod& d)
{
    return d.result() == QDialog::Accepted;
}

struct OkCase
{
    const char* what;
    Values initial;
    std::vector<std::string> contacts;
    std::string message; // empty: accepted
};

} // namespace

TEST(CDialogConnectMethod, OkRunsTheChecksInOrderAndStaysOpenOnTheFirstFailure)
{
    const std::string host51(51, 'h');
    const OkCase cases[] = {
        {"empty host before empty node name", tcp("", ""), {}, "ホスト名を入力してください"},
        {"blank host", tcp("   ", "b"), {}, "ホスト名を入力してください"},
        {"empty node name", tcp("example", ""), {}, "接続先のノード名称を設定してください."},
        {"no contact chosen", skype(""), {}, "Skpeコンタクト名を入力（選択）してください"},
        {"host over 50 characters", tcp(host51, "b"), {}, "50 文字以内で入力してください。"},
        {"host of 50 characters", tcp(std::string(50, 'h'), "b"), {}, ""},
        {"node name with a space",
         tcp("example", "node b"),
         {},
         "ノード名にスペースを含む名前は設定できません。"},
        {"node name with a slash",
         tcp("example", "a/b"),
         {},
         "ノード名に使用できない文字が含まれています。"},
        {"node name CP932 cannot write",
         tcp("example", "café"),
         {},
         "ノード名に使用できない文字が含まれています。"},
        {"node name '..'",
         tcp("example", ".."),
         {},
         "ノード名に使用できない文字が含まれています。"},
        {"31 single-byte characters", tcp("example", std::string(31, 'n')), {}, ""},
        {"32 single-byte characters",
         tcp("example", std::string(32, 'n')),
         {},
         "接続先のノード名称は全角15文字・半角31文字以内で設定してください。"},
        {"15 double-byte characters", tcp("example", "ノードノードノードノードノード"), {}, ""},
        {"16 double-byte characters (32 bytes)",
         tcp("example", "ノードノードノードノードノード名"),
         {},
         "接続先のノード名称は全角15文字・半角31文字以内で設定してください。"},
        {"Skype row with a contact", skype("bob"), {"alice", "bob"}, ""},
        // A Skype row is not checked for its node name: it is the peer's, learnt from its hello.
        {"Skype row with any node name",
         [] {
             Values v = skype("bob");
             v.nodeName = "x y";
             return v;
         }(),
         {"bob"},
         ""},
    };
    for (const OkCase& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingPrompt prompt;
        CDialogConnectMethod d(c.initial, contacts(c.contacts));
        d.accept();
        if (c.message.empty()) {
            EXPECT_TRUE(prompt.all.empty()) << prompt.all.front();
            EXPECT_TRUE(accepted(d));
        } else {
            EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message});
            EXPECT_FALSE(accepted(d));
        }
    }
}

TEST(CDialogConnectMethod, PortFromTheHostTextAndBackIntoIt)
{
    RecordingPrompt prompt;
    {
        CDialogConnectMethod d(tcp("example/990", "b"), {});
        EXPECT_EQ(d.controls().host->text().toStdString(), "example");
        EXPECT_TRUE(d.controls().portFlag->isChecked());
        EXPECT_EQ(d.controls().port->value(), 990);
        EXPECT_TRUE(d.controls().port->isEnabled());
        d.accept();
        ASSERT_TRUE(accepted(d));
        EXPECT_EQ(d.values().host, "example/990");
    }
    {
        CDialogConnectMethod d(tcp("example", "b"), {});
        EXPECT_FALSE(d.controls().portFlag->isChecked());
        EXPECT_EQ(d.controls().port->value(), 42000);
        EXPECT_FALSE(d.controls().port->isEnabled());
        d.accept();
        EXPECT_EQ(d.values().host, "example");
    }
    {
        // A text after "/" that is no port dials the default port; the dialog shows that one.
        CDialogConnectMethod d(tcp("example/", "b"), {});
        EXPECT_EQ(d.controls().host->text().toStdString(), "example");
        EXPECT_EQ(d.controls().port->value(), 42000);
    }
    EXPECT_TRUE(prompt.all.empty());
}

TEST(CDialogConnectMethod, PortFlagAsksBeforeAPortIsSetAndClearingRestoresTheDefault)
{
    const std::string warning =
        "接続ポートを変更します。接続先の設定を確認して同じポート番号を設定してください";
    RecordingPrompt prompt;
    CDialogConnectMethod d(tcp("example", "b"), {});
    const auto& ui = d.controls();

    prompt.script({plat::Answer::Cancel});
    ui.portFlag->click();
    EXPECT_EQ(prompt.questions, std::vector<std::string>{warning});
    EXPECT_FALSE(ui.portFlag->isChecked());
    EXPECT_FALSE(ui.port->isEnabled());

    prompt.script({plat::Answer::Ok});
    ui.portFlag->click();
    EXPECT_TRUE(ui.portFlag->isChecked());
    EXPECT_TRUE(ui.port->isEnabled());
    ui.port->setValue(990);

    ui.portFlag->click(); // cleared: no question, back to the default port
    EXPECT_EQ(prompt.questions.size(), 2u);
    EXPECT_EQ(ui.port->value(), 42000);
    EXPECT_FALSE(ui.port->isEnabled());

    prompt.script({plat::Answer::Ok});
    ui.portFlag->click();
    ui.port->setValue(990);
    d.accept();
    ASSERT_TRUE(accepted(d));
    EXPECT_EQ(d.values().host, "example/990");
}

TEST(CDialogConnectMethod, PortZeroCannotBeChosen)
{
    CDialogConnectMethod d(tcp("example/990", "b"), {});
    d.controls().port->setValue(0);
    EXPECT_EQ(d.controls().port->value(), 1);
}

TEST(CDialogConnectMethod, MethodSwitchesEnablingAndListsEachContactOnce)
{
    RecordingPrompt prompt;
    CDialogConnectMethod d(skype("bob"), contacts({"carol", "bob", "alice", "bob"}));
    const auto& ui = d.controls();
    EXPECT_TRUE(ui.skypeIds->isEnabled());
    EXPECT_FALSE(ui.host->isEnabled());
    EXPECT_FALSE(ui.portFlag->isEnabled());
    EXPECT_FALSE(ui.nodeName->isEnabled());
    EXPECT_FALSE(ui.port->isEnabled());
    EXPECT_EQ(ui.skypeIds->currentText().toStdString(), "bob");

    for (int round = 0; round < 3; ++round) {
        ui.tcp->click();
        EXPECT_FALSE(ui.skypeIds->isEnabled());
        EXPECT_TRUE(ui.host->isEnabled());
        EXPECT_TRUE(ui.nodeName->isEnabled());
        EXPECT_TRUE(ui.portFlag->isEnabled());
        ui.skype->click();
    }
    EXPECT_EQ(listed(d), (std::vector<std::string>{"alice", "bob", "carol"}));
    EXPECT_EQ(ui.skypeIds->currentText().toStdString(), "bob");

    ui.skypeIds->setCurrentIndex(2);
    d.accept();
    ASSERT_TRUE(accepted(d));
    EXPECT_EQ(d.values().method, CDialogConnectMethod::kSkype);
    EXPECT_EQ(d.values().skypeId, "carol");
}

TEST(CDialogConnectMethod, WithoutContactsTheListHoldsTheCurrentIdOnly)
{
    {
        CDialogConnectMethod d(skype("dave"), contacts({}));
        EXPECT_EQ(listed(d), std::vector<std::string>{"dave"});
        EXPECT_EQ(d.controls().skypeIds->currentText().toStdString(), "dave");
    }
    {
        // A new connection while the client is not linked: nothing to choose, and OK says so.
        RecordingPrompt prompt;
        CDialogConnectMethod d(Values{}, {});
        EXPECT_TRUE(listed(d).empty());
        d.accept();
        EXPECT_EQ(prompt.messages,
                  std::vector<std::string>{"Skpeコンタクト名を入力（選択）してください"});
    }
}
