#include "nodeui/CNodePropatyDlg.h"

#include "node/CNodeInfo.h"
#include "platform/Cp932.h"
#include "support/RecordingPrompt.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

TEST(NodeSettingsDialog, OkCutsTheInformationAtAWholeCharacter)
{
    CNodeInfo target;
    CNodePropatyDlg dialog(&target, "");
    // 999 single-byte characters and a double-byte one: 1001 bytes, one too many.
    dialog.informationEdit().setPlainText(QString::fromStdString(std::string(999, 'x') + "漢"));
    dialog.skypeIdEdit().setText(QStringLiteral("id"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(target.information, std::string(999, 'x'));
    EXPECT_EQ(target.skypeId, "id");
}

TEST(NodeSettingsDialog, TextThePublishedFileCannotCarryIsRefused)
{
    RecordingPrompt prompt;
    CNodeInfo target;
    target.mailAddress = "kept@example.org";
    CNodePropatyDlg dialog(&target, "");
    dialog.mailEdit().setText(QString::fromUtf8("smile\xF0\x9F\x98\x80@example.org"));
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(target.mailAddress, "kept@example.org");
}

} // namespace
