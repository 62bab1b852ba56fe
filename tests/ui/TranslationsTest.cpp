#include "ui/Translations.h"

#include "support/TempDir.h"
#include "ui/CCatalogListCtrl.h"
#include "ui/CPavoDlg.h"
#include "ui/MainWindowLayout.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTranslator>
#include <gtest/gtest.h>

#include <memory>

// Without a translation the interface speaks the Japanese it is written in.
TEST(Translations, JapaneseIsTheDefault)
{
    EXPECT_EQ(ui::tr("システム設定"), QStringLiteral("システム設定"));
    TempDir dir;
    PavoNode node(dir.path(), NodeOptions{});
    CPavoDlg window(node, true);
    window.show();
    EXPECT_EQ(window.controls().systemSettings->text(), QStringLiteral("システム設定"));
}

TEST(Translations, TheEnglishInterfaceTranslatesWidgetsMessagesAndListHeaders)
{
    std::unique_ptr<QObject> english(ui::installEnglish(*qApp));
    ASSERT_TRUE(english) << "the English translation is built into the program";
    EXPECT_EQ(ui::tr("接続を削除しますか？"), QStringLiteral("Delete the connection?"));
    // Texts with line breaks and patterns find their translation too.
    EXPECT_TRUE(ui::tr("複数ファイルがドロップされました.全てショートカット作成の扱いになります。"
                       "\r\nよろしいですか？")
                    .startsWith(QStringLiteral("Several files were dropped")));
    EXPECT_EQ(ui::tr("全角%1文字・半角%2文字以内で入力してください。").arg(9).arg(18),
              QStringLiteral("Enter at most 18 single-width or 9 double-width characters."));

    TempDir dir;
    PavoNode node(dir.path(), NodeOptions{});
    CPavoDlg window(node, true);
    window.show();
    const MainWindowLayout& c = window.controls();
    EXPECT_EQ(c.systemSettings->text(), QStringLiteral("System settings"));
    EXPECT_EQ(c.addConnection->text(), QStringLiteral("Add"));
    EXPECT_EQ(c.online->text(), QStringLiteral("OnLine")); // not a Japanese text: as it is
    EXPECT_EQ(c.catalog->horizontalHeaderItem(0)->text(), QStringLiteral("File name"));
    window.hide();

    english.reset(); // the Japanese interface again
    EXPECT_EQ(ui::tr("接続を削除しますか？"), QStringLiteral("接続を削除しますか？"));
}

TEST(Translations, QtsOwnDialogsHaveTheirJapaneseTranslation)
{
    std::unique_ptr<QTranslator> qt(ui::qtJapanese(nullptr));
    ASSERT_TRUE(qt) << "qtbase_ja.qm (qt6-translations-l10n) is installed";
    EXPECT_EQ(qt->translate("QPlatformTheme", "&Yes"), QStringLiteral("はい(&Y)"));
}
