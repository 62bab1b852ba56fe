#include "nodeui/CNodeDetailDlg.h"

#include "support/RecordingPrompt.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace {

TEST(NodeDetailPane, ShowsContactDataNeighboursRouteAndText)
{
    CNodeDetailDlg pane;
    EXPECT_FALSE(pane.hasNode());
    EXPECT_TRUE(pane.skypeIdLabel().text().isEmpty());
    CNodeInfo info;
    info.nodeName = "far";
    info.skypeId = "<b>far</b>";
    info.mailAddress = "far@example.org";
    info.neighbours = {"mid"};
    info.route = {"mid", "near"};
    info.information = "line 1\nline 2";
    pane.showInfo(info);
    EXPECT_EQ(pane.skypeIdLabel().text().toStdString(), "<b>far</b>");
    EXPECT_EQ(pane.skypeIdLabel().textFormat(), Qt::PlainText);
    EXPECT_EQ(pane.mailLabel().text().toStdString(), "far@example.org");
    EXPECT_EQ(pane.neighbourList().count(), 1);
    ASSERT_EQ(pane.routeList().count(), 2);
    EXPECT_EQ(pane.routeList().item(1)->text().toStdString(), "near");
    EXPECT_EQ(pane.informationEdit().toPlainText().toStdString(), "line 1\nline 2");
    EXPECT_TRUE(pane.informationEdit().isReadOnly());
}

TEST(NodeDetailPane, MailToOpensTheMailerOrSaysWhyNot)
{
    struct Case
    {
        const char* address;
        bool opens;
        const char* url;     // nullptr: the mailer is not called
        const char* message; // nullptr: no message
    };
    const Case cases[] = {
        {"", true, nullptr, "メイルアドレスは設定されていません"},
        {"a@example.org", true, "mailto:a@example.org", nullptr},
        {"a@example.org", false, "mailto:a@example.org",
         "メーラの呼び出しができません.メールの設定を確認してください."},
        // A peer's address cannot smuggle headers or attachments into the message.
        {"a@example.org?attach=/etc/passwd&cc=x", true,
         "mailto:a@example.org%3Fattach=/etc/passwd&cc=x", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        RecordingPrompt prompt;
        CNodeDetailDlg pane;
        std::vector<std::string> opened;
        pane.setUrlOpener([&](const std::string& url) {
            opened.push_back(url);
            return c.opens;
        });
        CNodeInfo info;
        info.mailAddress = c.address;
        pane.showInfo(info);
        pane.mailTo();
        EXPECT_EQ(opened, c.url ? std::vector<std::string>{c.url} : std::vector<std::string>{});
        EXPECT_EQ(prompt.messages,
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    }
}

} // namespace
