#include "ui/SystemPropertiesFlow.h"

#include "MainWindowFixture.h"
#include "OnModal.h"
#include "ui/CSystemPropatyDlg.h"
#include "ui/MainWindowLayout.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

namespace {
using SystemPropertiesFlowTest = MainWindowFixture;
} // namespace

TEST_F(SystemPropertiesFlowTest, AcceptedPropertiesAreAppliedAndSaved)
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

TEST_F(SystemPropertiesFlowTest, FirstStartIntroducesThePropertiesThenPointsToAddingAConnection)
{
    window->settings().setPartyName("");
    window->settings().setNodeName("");
    OnModal<CSystemPropatyDlg> cancel([](CSystemPropatyDlg& d) {
        EXPECT_TRUE(d.controls().introduction->isVisibleTo(&d));
        EXPECT_FALSE(d.controls().introduction->text().isEmpty());
        d.reject();
    });
    SystemPropertiesFlow::firstStart(*window);
    ASSERT_TRUE(cancel.shown);
    EXPECT_TRUE(prompt.all.empty()); // cancelled: no further pointers

    OnModal<CSystemPropatyDlg> fill([](CSystemPropatyDlg& d) {
        d.controls().partyName->setText(QStringLiteral("party"));
        d.controls().nodeName->setText(QStringLiteral("NodeA"));
        d.accept();
    });
    SystemPropertiesFlow::firstStart(*window);
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

TEST_F(SystemPropertiesFlowTest, CancelledPropertiesChangeNothing)
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
