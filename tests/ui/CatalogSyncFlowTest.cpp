#include "ui/CatalogSyncFlow.h"

#include "MainWindowFixture.h"
#include "OnModal.h"
#include "ui/CSyncDlg.h"

namespace {
using CatalogSyncFlowTest = MainWindowFixture;
} // namespace

TEST_F(CatalogSyncFlowTest, SyncWantsASelectedConnectedRow)
{
    window->settings().connections().append({"NodeB", "TCP", "127.0.0.1", {}});

    OnModal<CSyncDlg> noDialog([](CSyncDlg& d) { d.reject(); });
    CatalogSyncFlow::run(*window);
    EXPECT_TRUE(prompt.all.empty());

    window->rows().selectRow(0);
    CatalogSyncFlow::run(*window);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{"選択したノードは接続していません"});
    QApplication::processEvents();
    EXPECT_FALSE(noDialog.shown);
}
