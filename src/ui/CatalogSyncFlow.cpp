#include "ui/CatalogSyncFlow.h"

#include "platform/Prompt.h"
#include "ui/CPavoDlg.h"
#include "ui/CSyncDlg.h"
#include "ui/Translations.h"

namespace {
const char* const kNotConnected = "選択したノードは接続していません";
const char* const kSyncRequested = "「%s」にカタログ同期を要求しました。";

std::string format(const char* pattern, const std::string& value)
{
    std::string text = ui::tr(pattern).toStdString();
    text.replace(text.find("%s"), 2, value);
    return text;
}
} // namespace

void CatalogSyncFlow::run(CPavoDlg& window)
{
    const auto row = window.rows().selectedRow();
    if (!row)
        return;
    if (window.transfer().isConnected(*row) != 1) {
        plat::showMessage(kNotConnected, plat::Icon::Warning);
        return;
    }
    CSyncDlg dialog(&window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    window.transfer().requestHello(*row, dialog.mode(), dialog.date());
    window.notice(format(kSyncRequested, window.settings().getConnectNodeName(*row)));
}
