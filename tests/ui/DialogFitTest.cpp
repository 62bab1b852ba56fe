#include "app/CMultiCheck.h"
#include "nodeui/CNodeInfoDlg.h"
#include "nodeui/CNodePropatyDlg.h"
#include "support/TempDir.h"
#include "ui/CAboutDlg.h"
#include "ui/CDialogConnectMethod.h"
#include "ui/CEntryDlg.h"
#include "ui/CPavoDlg.h"
#include "ui/CSyncDlg.h"
#include "ui/CSystemPropatyDlg.h"

#include <QDialog>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Every window of the program fits a 1024×768 screen, also with a long working folder.
TEST(DialogFit, EveryWindowFitsA1024By768Screen)
{
    TempDir dir;
    const std::string deep = dir.path() + "/" + std::string(150, 'w');
    CMultiCheck guard;
    CNodeInfo own;
    std::unique_ptr<PavoNode> node;
    struct Case
    {
        const char* name;
        std::function<std::unique_ptr<QDialog>()> make;
    };
    const Case cases[] = {
        {"main window",
         [&] {
             node = std::make_unique<PavoNode>(deep, NodeOptions{});
             return std::make_unique<CPavoDlg>(*node, true);
         }},
        {"system properties",
         [&] {
             CSystemPropatyDlg::Values v;
             v.sendFolder = deep + "/SEND";
             v.recvFolder = deep + "/RECV";
             return std::make_unique<CSystemPropatyDlg>(v, guard);
         }},
        {"connection",
         [] {
             return std::make_unique<CDialogConnectMethod>(
                 CDialogConnectMethod::Values{}, [] { return std::vector<std::string>{}; });
         }},
        {"synchronisation", [] { return std::make_unique<CSyncDlg>(); }},
        {"registration method", [] { return std::make_unique<CEntryDlg>(); }},
        {"about", [] { return std::make_unique<CAboutDlg>(); }},
        {"node information", [] { return std::make_unique<CNodeInfoDlg>(); }},
        {"own node information",
         [&] { return std::make_unique<CNodePropatyDlg>(&own, std::string()); }},
    };
    for (const Case& c : cases) {
        const auto dialog = c.make();
        dialog->show();
        const QRect frame = dialog->frameGeometry();
        EXPECT_LE(frame.width(), 1024) << c.name;
        EXPECT_LE(frame.height(), 768) << c.name;
        dialog->hide();
    }
}
