#include "ui/CatalogOpsUi.h"

#include "app/ShellUtil.h"
#include "ui/CCatalogListCtrl.h"
#include "ui/CEntryDlg.h"
#include "uikit/CatalogRowText.h"
#include "uikit/QtCopyProgress.h"
#include "uikit/QtFileDialogs.h"

#include <QWidget>

CatalogOpsUi::CatalogOpsUi(QWidget& window, CCatalogListCtrl& list, bool headless)
    : m_window(window), m_list(list), m_headless(headless)
{
}

std::optional<int> CatalogOpsUi::selectedRow()
{
    return m_list.selectedRow();
}

std::optional<CatalogRecord> CatalogOpsUi::rowEntry(int row)
{
    return m_list.rowRecord(row);
}

void CatalogOpsUi::bringToFront()
{
    m_window.raise();
    m_window.activateWindow();
}

std::optional<int> CatalogOpsUi::chooseMethod()
{
    if (m_headless)
        return std::nullopt;
    CEntryDlg dialog(&m_window);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.method();
}

std::optional<std::string> CatalogOpsUi::chooseSavePath(const std::string& proposedName)
{
    if (m_headless)
        return std::nullopt;
    return ui::chooseSavePath(&m_window, proposedName);
}

CatalogFileOps::CopyResult CatalogOpsUi::copyFile(const std::string& from, const std::string& to)
{
    QtCopyProgress progress(&m_window);
    CatalogFileOps::CopyResult result;
    result.ok = copyFiles({to}, {from}, &progress, &result.failure) == 1;
    return result;
}

void CatalogOpsUi::notice(const std::string& text)
{
    if (m_notice)
        m_notice(text);
}
